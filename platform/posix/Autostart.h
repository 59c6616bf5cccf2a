// The XDG autostart entry that starts Varnel with the user's desktop session:
// $XDG_CONFIG_HOME/autostart/varnel.desktop, or ~/.config/autostart/varnel.desktop.
#pragma once

#include <string>

#include "platform/Result.h"

namespace varnel {

// Where the entry lives for the given environment values (either may be null); a failure when
// neither names an absolute directory.
Result<std::string> AutostartEntryPath(const char* xdgConfigHome, const char* home);

// The entry's Exec value for a program path: quoted and escaped where the path needs it.
std::string DesktopExecValue(const std::string& program);

// Writes the entry (creating its directory), replacing any earlier one in one step.
Status EnableAutostart(const std::string& entryPath, const std::string& program);
// Removes the entry; succeeds when there was none.
Status DisableAutostart(const std::string& entryPath);
// True when the entry exists and is not switched off with Hidden=true.
bool AutostartEnabled(const std::string& entryPath);

}  // namespace varnel
