// Files and the command line.
#pragma once

#include <string>

#include "platform/Result.h"

namespace varnel {

class Files {
  public:
    virtual ~Files() = default;

    // The program's arguments joined by single spaces, exactly as passed (quotes kept).
    virtual std::string argumentString() const = 0;
    // True when the path or pattern matches at least one normal file: directories, hidden files
    // and system files do not count. Patterns follow the platform's rules.
    virtual bool matchesNormalFile(const std::string& pattern) const = 0;
    // The whole content of a file as bytes.
    virtual Result<std::string> readBytes(const std::string& path) const = 0;
};

}  // namespace varnel
