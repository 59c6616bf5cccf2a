// Files and the command line.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace varnel {

// The whole content of a file, held in memory that its reader can give back front to back as it
// moves on.
class FileContent {
  public:
    virtual ~FileContent() = default;
    virtual std::string_view bytes() const = 0;
    // Nothing before `offset` is read again: the memory that holds it may be given back. The bytes
    // from `offset` on stay where they are.
    virtual void releaseBefore(std::size_t offset) = 0;
};

class Files {
  public:
    virtual ~Files() = default;

    // The program's arguments joined by single spaces, exactly as passed (quotes kept). On Windows,
    // where the program receives one string, it is that string, without one pair of double quotes
    // around the whole of it.
    virtual std::string argumentString() const = 0;
    // True when the path or pattern matches at least one normal file: directories, hidden files
    // and system files do not count. Patterns follow the platform's rules.
    virtual bool matchesNormalFile(const std::string& pattern) const = 0;
    // The whole content of a file as bytes.
    virtual Result<std::string> readBytes(const std::string& path) const = 0;
    // The same content for reading once, front to back. The default holds readBytes' string and
    // gives nothing back before it is destroyed.
    virtual Result<std::unique_ptr<FileContent>> readContent(const std::string& path) const;
};

namespace detail {

class StringFileContent : public FileContent {
  public:
    explicit StringFileContent(std::string bytes) : bytes_(std::move(bytes)) {}
    std::string_view bytes() const override { return bytes_; }
    void releaseBefore(std::size_t) override {}

  private:
    std::string bytes_;
};

}  // namespace detail

inline Result<std::unique_ptr<FileContent>> Files::readContent(const std::string& path) const {
    using R = Result<std::unique_ptr<FileContent>>;
    Result<std::string> bytes = readBytes(path);
    if (!bytes) {
        return R::failure(bytes.error());
    }
    return R::success(std::make_unique<detail::StringFileContent>(bytes.value()));
}

}  // namespace varnel
