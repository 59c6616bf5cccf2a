#include "platform/posix/PosixFiles.h"

#include <glob.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace varnel {

PosixFiles::PosixFiles(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

std::string PosixFiles::argumentString() const {
    std::string joined;
    for (const auto& a : arguments_) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += a;
    }
    return joined;
}

namespace {

bool isNormalFile(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    return name[0] != '.';
}

}  // namespace

bool PosixFiles::matchesNormalFile(const std::string& pattern) const {
    if (pattern.empty()) {
        return false;
    }
    glob_t found{};
    const int rc = ::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found);
    std::unique_ptr<glob_t, void (*)(glob_t*)> guard(&found, ::globfree);
    if (rc != 0) {
        return false;
    }
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        if (isNormalFile(found.gl_pathv[i])) {
            return true;
        }
    }
    return false;
}

Result<std::string> PosixFiles::readBytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Result<std::string>::failure(path + ": " + std::strerror(errno));
    }
    in.seekg(0, std::ios::end);
    const auto size = in.tellg();
    if (size < 0) {
        return Result<std::string>::failure(path + ": cannot tell the size");
    }
    if (static_cast<std::size_t>(size) > MaxFileBytes) {
        return Result<std::string>::failure(path + ": larger than the slot file limit");
    }
    in.seekg(0, std::ios::beg);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), size)) {
        return Result<std::string>::failure(path + ": read error");
    }
    return Result<std::string>::success(std::move(bytes));
}

}  // namespace varnel
