// Files and the command line on POSIX systems.
#pragma once

#include <string>
#include <vector>

#include "platform/Files.h"

namespace varnel {

class PosixFiles : public Files {
  public:
    explicit PosixFiles(std::vector<std::string> arguments = {});
    std::string argumentString() const override;
    // glob(3) rules; a match counts when it is a regular file whose name does not start with a dot.
    bool matchesNormalFile(const std::string& pattern) const override;
    Result<std::string> readBytes(const std::string& path) const override;
    // Read whole into anonymous memory that releaseBefore() unmaps page by page.
    Result<std::unique_ptr<FileContent>> readContent(const std::string& path) const override;

    // Slot files larger than this are not read.
    static constexpr std::size_t MaxFileBytes = 256u * 1024u * 1024u;

  private:
    std::vector<std::string> arguments_;
};

}  // namespace varnel
