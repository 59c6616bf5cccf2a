// The per-user installation of Varnel's GNOME Shell extension (`varnel --gnome-extension install`):
// the form the installed shell loads, written under the user's data folder.
#pragma once

#include <string>
#include <string_view>

#include "base/Result.h"

namespace varnel::gnome {

enum class ExtensionForm {
    Script,  // GNOME Shell 43 and 44: init() with enable() and disable()
    Module,  // GNOME Shell 45 and later: an ES module
};

// The form for the shell that printed this version line ("GNOME Shell 43.9"); the module form when
// the line cannot be read (no shell installed: the newer form).
ExtensionForm FormForShellVersion(std::string_view versionLine);

// The extension's folder for this user: $XDG_DATA_HOME, else $HOME/.local/share, then
// gnome-shell/extensions/UUID. Fails when neither is set (or they are not absolute).
Result<std::string> UserExtensionFolder(const char* xdgDataHome, const char* home);

// Writes the extension (metadata.json and extension.js of that form) into the folder, replacing
// an older one. Returns the folder.
Status InstallExtension(const std::string& folder, ExtensionForm form);
// Removes what InstallExtension wrote; success when nothing was there.
Status RemoveExtension(const std::string& folder);

// The installed shell's version line (`gnome-shell --version`, waited for a few seconds at most);
// empty when there is none.
std::string InstalledShellVersion();

// The extension's UUID, which `gnome-extensions enable` takes.
const char* ExtensionUuid();

}  // namespace varnel::gnome
