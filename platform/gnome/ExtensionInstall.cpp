#include "platform/gnome/ExtensionInstall.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "GnomeExtensionFiles.h"

namespace varnel::gnome {

namespace {

namespace fs = std::filesystem;

Status WriteFile(const fs::path& path, const char* text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out ? Status::success() : Status::failure("cannot write " + path.string());
}

}  // namespace

const char* ExtensionUuid() {
    return files::ExtensionUuid;
}

ExtensionForm FormForShellVersion(std::string_view versionLine) {
    constexpr std::string_view prefix = "GNOME Shell ";
    const auto at = versionLine.find(prefix);
    if (at == std::string_view::npos) {
        return ExtensionForm::Module;
    }
    int major = 0;
    bool digits = false;
    for (std::size_t i = at + prefix.size();
         i < versionLine.size() && versionLine[i] >= '0' && versionLine[i] <= '9' && major < 10000; ++i) {
        major = major * 10 + (versionLine[i] - '0');
        digits = true;
    }
    return digits && major < 45 ? ExtensionForm::Script : ExtensionForm::Module;
}

Result<std::string> UserExtensionFolder(const char* xdgDataHome, const char* home) {
    fs::path data;
    if (xdgDataHome != nullptr && fs::path(xdgDataHome).is_absolute()) {
        data = xdgDataHome;
    } else if (home != nullptr && fs::path(home).is_absolute()) {
        data = fs::path(home) / ".local/share";
    } else {
        return Result<std::string>::failure("neither XDG_DATA_HOME nor HOME names a folder");
    }
    return Result<std::string>::success((data / "gnome-shell/extensions" / files::ExtensionUuid).string());
}

Status InstallExtension(const std::string& folder, ExtensionForm form) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return Status::failure("cannot create " + folder + ": " + error.message());
    }
    const bool script = form == ExtensionForm::Script;
    if (Status written = WriteFile(fs::path(folder) / "metadata.json",
                                   script ? files::ExtensionMetadata43 : files::ExtensionMetadata45);
        !written) {
        return written;
    }
    return WriteFile(fs::path(folder) / "extension.js",
                     script ? files::ExtensionScript43 : files::ExtensionScript45);
}

Status RemoveExtension(const std::string& folder) {
    std::error_code error;
    for (const char* name : {"metadata.json", "extension.js"}) {
        fs::remove(fs::path(folder) / name, error);
        if (error) {
            return Status::failure("cannot remove " + (fs::path(folder) / name).string() + ": " +
                                   error.message());
        }
    }
    fs::remove(folder, error);  // left when the user put files of their own in it
    return Status::success();
}

std::string InstalledShellVersion() {
    FILE* pipe = ::popen("timeout 5 gnome-shell --version 2>/dev/null", "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string line;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        line += buffer;
    }
    ::pclose(pipe);
    return line;
}

}  // namespace varnel::gnome
