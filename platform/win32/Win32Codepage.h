// Code page 932 through the system's converter.
#pragma once

#include "platform/Codepage.h"

namespace varnel {

// Decodes with MultiByteToWideChar(932), giving the same text as the iconv backend on Linux: a byte
// that starts no character, or a lead byte whose trail byte is missing, becomes one U+FFFD; a lead and
// trail byte pair with no character assigned becomes one U+FFFD for both bytes. Single bytes 0x80,
// 0xA0 and 0xFD..0xFF are no characters here, although Windows maps them (to U+0080 and to private
// use characters U+F8F0..U+F8F3), and some versions even with MB_ERR_INVALID_CHARS. Stateless: one
// object can be used from any thread.
class Win32Codepage : public Codepage {
  public:
    Result<std::u16string> decodeCp932(std::string_view bytes) const override;
};

}  // namespace varnel
