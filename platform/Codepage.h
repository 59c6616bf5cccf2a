#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace varnel {

// Decodes code page 932 piece by piece into one text, with one converter for all the pieces. Each
// piece must end where a character ends (a lead byte at its end counts as a character that lacks
// its trail byte).
class Cp932Decoder {
  public:
    virtual ~Cp932Decoder() = default;
    // Appends the text of the bytes to `out`, with the same replacements as Codepage::decodeCp932.
    virtual Status append(std::string_view bytes, std::u16string& out) = 0;
};

// Conversion of the legacy Japanese code page (932: Shift-JIS with the Windows extensions).
class Codepage {
  public:
    virtual ~Codepage() = default;
    // Decodes the bytes; an invalid or unmappable sequence becomes U+FFFD and decoding goes on.
    // Fails only when the converter itself is unavailable.
    virtual Result<std::u16string> decodeCp932(std::string_view bytes) const = 0;
    // A decoder for many pieces; null when the converter is unavailable. The default decodes each
    // piece on its own through decodeCp932.
    virtual std::unique_ptr<Cp932Decoder> cp932Decoder() const;
};

namespace detail {

class PiecewiseCp932Decoder : public Cp932Decoder {
  public:
    explicit PiecewiseCp932Decoder(const Codepage& codepage) : codepage_(codepage) {}
    Status append(std::string_view bytes, std::u16string& out) override {
        const Result<std::u16string> text = codepage_.decodeCp932(bytes);
        if (!text) {
            return Status::failure(text.error());
        }
        out += text.value();
        return Status::success();
    }

  private:
    const Codepage& codepage_;
};

}  // namespace detail

inline std::unique_ptr<Cp932Decoder> Codepage::cp932Decoder() const {
    return std::make_unique<detail::PiecewiseCp932Decoder>(*this);
}

}  // namespace varnel
