// The XDG autostart entry that starts Varnel with the user's desktop session:
// $XDG_CONFIG_HOME/autostart/varnel.desktop, or ~/.config/autostart/varnel.desktop.
#pragma once

#include <string>

#include "base/Result.h"

namespace varnel {

// Where the entry lives for the given environment values (either may be null); a failure when
// neither names an absolute directory.
Result<std::string> AutostartEntryPath(const char* xdgConfigHome, const char* home);

// The entry's Exec value for a program path: quoted and escaped where the path needs it.
std::string DesktopExecValue(const std::string& program);

// What switching autostart did.
enum class AutostartChange {
    Done,            // our entry was written or removed, or there was nothing to remove
    LeftUsersEntry,  // an entry that Varnel did not write is at the path; it was left as it is
};

// Writes our entry (creating its directory). An entry already at the path is replaced only when it is
// one of ours (it carries AutostartMarker, or is exactly what earlier versions wrote for `program`);
// anything else there, a symbolic link included, is the user's own and is left alone. The entry is
// written to a new file beside it and renamed over the path, so no link is ever followed.
Result<AutostartChange> EnableAutostart(const std::string& entryPath, const std::string& program);
// Removes our entry; succeeds when there was none. The user's own entry is left alone.
Result<AutostartChange> DisableAutostart(const std::string& entryPath, const std::string& program);
// True when the entry exists and is not switched off with Hidden=true.
bool AutostartEnabled(const std::string& entryPath);

// The line by which Varnel recognises the entries it wrote.
inline constexpr const char* AutostartMarker = "X-Varnel-Autostart=true";

}  // namespace varnel
