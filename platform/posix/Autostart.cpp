#include "platform/posix/Autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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

namespace {

// The entry's text; earlier versions wrote it without the marker.
std::string EntryText(const std::string& program, bool marked) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Varnel\n"
           "Comment=Clipboard slots for Japanese text\n"
           "Comment[ja]=日本語テキストのクリップボード スロット\n"
           "Exec=" +
           DesktopExecValue(program) +
           "\n"
           "Icon=varnel\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n" +
           (marked ? std::string(AutostartMarker) + "\n" : std::string());
}

enum class EntryOwner { None, Ours, Users };

// Whose entry is at the path. Only a regular file can be ours; it is read without following a link.
Result<EntryOwner> OwnerOf(const std::string& entryPath, const std::string& program) {
    using R = Result<EntryOwner>;
    struct stat info {};
    if (::lstat(entryPath.c_str(), &info) != 0) {
        return errno == ENOENT ? R::success(EntryOwner::None)
                               : R::failure(entryPath + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode) || info.st_size > 64 * 1024) {
        return R::success(EntryOwner::Users);
    }
    const int fd = ::open(entryPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return R::failure(entryPath + ": " + std::strerror(errno));
    }
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0 && text.size() <= 64 * 1024;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int why = errno;
            ::close(fd);
            return R::failure(entryPath + ": " + std::strerror(why));
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    const bool marked = ("\n" + text).find("\n" + std::string(AutostartMarker) + "\n") != std::string::npos;
    return R::success(marked || text == EntryText(program, false) ? EntryOwner::Ours : EntryOwner::Users);
}

}  // namespace

Result<AutostartChange> EnableAutostart(const std::string& entryPath, const std::string& program) {
    using R = Result<AutostartChange>;
    const std::filesystem::path path(entryPath);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        return R::failure(path.parent_path().string() + ": " + error.message());
    }
    const auto owner = OwnerOf(entryPath, program);
    if (!owner) {
        return R::failure(owner.error());
    }
    if (owner.value() == EntryOwner::Users) {
        return R::success(AutostartChange::LeftUsersEntry);
    }
    // A new file of our own beside the entry (O_EXCL: nothing that is there is opened), then renamed
    // over the path: rename replaces the name itself, never what a link points to.
    std::string temporary = (path.parent_path() / ".varnel.desktop.XXXXXX").string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return R::failure(temporary + ": " + std::strerror(errno));
    }
    const std::string text = EntryText(program, true);
    bool written = ::fchmod(fd, 0644) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        written = put > 0;
        done += written ? static_cast<std::size_t>(put) : 0;
    }
    written = ::close(fd) == 0 && written;
    if (!written) {
        std::remove(temporary.c_str());
        return R::failure(temporary + ": cannot be written");
    }
    if (std::rename(temporary.c_str(), entryPath.c_str()) != 0) {
        const int why = errno;
        std::remove(temporary.c_str());
        return R::failure(entryPath + ": " + std::strerror(why));
    }
    return R::success(AutostartChange::Done);
}

Result<AutostartChange> DisableAutostart(const std::string& entryPath, const std::string& program) {
    using R = Result<AutostartChange>;
    const auto owner = OwnerOf(entryPath, program);
    if (!owner) {
        return R::failure(owner.error());
    }
    if (owner.value() == EntryOwner::Users) {
        return R::success(AutostartChange::LeftUsersEntry);
    }
    if (owner.value() == EntryOwner::Ours && ::unlink(entryPath.c_str()) != 0 && errno != ENOENT) {
        return R::failure(entryPath + ": " + std::strerror(errno));
    }
    return R::success(AutostartChange::Done);
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
