// Files and the command line on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Files.h"

namespace varnel {

class Win32Files : public Files {
  public:
    // Takes the arguments from the process's command line.
    Win32Files();
    // Takes the arguments from the given command line, program name first.
    explicit Win32Files(std::wstring_view commandLine);

    // What follows the program name and the blanks after it, exactly as typed (quotes kept), in UTF-8.
    std::string argumentString() const override;
    // Paths are UTF-8; both slashes separate components. Wildcards follow the same rules as on Linux
    // (glob: * ? and [sets] in any component, a leading period only matched by a period), with letters
    // compared without regard to case as Windows file names are. A match counts when it is a file that
    // is neither a directory nor hidden nor a system file.
    bool matchesNormalFile(const std::string& pattern) const override;
    Result<std::string> readBytes(const std::string& path) const override;

    // Slot files larger than this are not read.
    static constexpr std::size_t MaxFileBytes = 256u * 1024u * 1024u;

  private:
    std::string arguments_;
};

// True when the name matches one component of a pattern, by the rules of matchesNormalFile.
bool WildcardMatches(std::wstring_view pattern, std::wstring_view name);

}  // namespace varnel
