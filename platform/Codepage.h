#pragma once

#include <string>
#include <string_view>

#include "platform/Result.h"

namespace varnel {

// Conversion of the legacy Japanese code page (932: Shift-JIS with the Windows extensions).
class Codepage {
  public:
    virtual ~Codepage() = default;
    // Decodes the bytes; an invalid or unmappable sequence becomes U+FFFD and decoding goes on.
    // Fails only when the converter itself is unavailable.
    virtual Result<std::u16string> decodeCp932(std::string_view bytes) const = 0;
};

}  // namespace varnel
