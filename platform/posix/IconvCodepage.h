// Code page 932 through iconv.
#pragma once

#include "platform/Codepage.h"

namespace varnel {

// Decodes with iconv's "CP932" converter. Every call, and every piecewise decoder, opens its own
// converter, so one object can be used from any thread.
class IconvCodepage : public Codepage {
  public:
    // A byte that starts no character, or a lead byte whose trail byte is missing, becomes one U+FFFD;
    // a lead and trail byte pair with no character assigned becomes one U+FFFD for both bytes, so the
    // trail byte (which may be 0x5C or an ASCII letter) never turns into a character of its own.
    Result<std::u16string> decodeCp932(std::string_view bytes) const override;
    std::unique_ptr<Cp932Decoder> cp932Decoder() const override;
};

}  // namespace varnel
