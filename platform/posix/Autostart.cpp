#include "platform/posix/Autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnel {

Result<std::string> AutostartEntryPath(const char* xdgConfigHome, const char* home) {
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.config";
    } else {
        return Result<std::string>::failure("neither XDG_CONFIG_HOME nor HOME names a directory");
    }
    return Result<std::string>::success(base + "/autostart/varnel.desktop");
}

std::string DesktopExecValue(const std::string& program) {
    // Inside double quotes the characters " ` $ \ take a backslash; the value as a whole then
    // doubles every backslash, and % is written %% because it starts a field code.
    bool plain = true;
    for (const char c : program) {
        if (std::strchr(" \t\n\"'\\><~|&;$*?#()`=%", c) != nullptr) {
            plain = false;
        }
    }
    if (plain) {
        return program;
    }
    std::string value = "\"";
    for (const char c : program) {
        if (c == '"' || c == '`' || c == '$') {
            value += "\\\\";
            value += c;
        } else if (c == '\\') {
            value += "\\\\\\\\";
        } else if (c == '%') {
            value += "%%";
        } else {
            value += c;
        }
    }
    return value + "\"";
}

Status EnableAutostart(const std::string& entryPath, const std::string& program) {
    const std::filesystem::path path(entryPath);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        return Status::failure(path.parent_path().string() + ": " + error.message());
    }
    const std::string temporary = entryPath + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Varnel\n"
               "Comment=Clipboard slots for Japanese text\n"
               "Comment[ja]=日本語テキストのクリップボード スロット\n"
               "Exec="
            << DesktopExecValue(program)
            << "\n"
               "Icon=varnel\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return Status::failure(temporary + ": cannot be written");
        }
    }
    if (std::rename(temporary.c_str(), entryPath.c_str()) != 0) {
        const int why = errno;
        std::remove(temporary.c_str());
        return Status::failure(entryPath + ": " + std::strerror(why));
    }
    return Status::success();
}

Status DisableAutostart(const std::string& entryPath) {
    if (::unlink(entryPath.c_str()) != 0 && errno != ENOENT) {
        return Status::failure(entryPath + ": " + std::strerror(errno));
    }
    return Status::success();
}

bool AutostartEnabled(const std::string& entryPath) {
    std::ifstream in(entryPath, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") {
            return false;
        }
    }
    return true;
}

}  // namespace varnel
