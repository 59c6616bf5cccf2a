// Every text operation over arbitrary UTF-16 (the input bytes taken two at a time, little-endian): no
// crash, lengths within their bounds, and valid UTF-16 out whenever the input was valid UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Utf16.h"
#include "text/ConvertText.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const bool valid = varnel::IsValidUtf16(text);
    using varnel::ConversionKind;
    for (ConversionKind kind : {ConversionKind::UpperCaseConversion, ConversionKind::LowerCaseConversion,
                                ConversionKind::WideConversion, ConversionKind::NarrowConversion,
                                ConversionKind::KatakanaConversion, ConversionKind::HiraganaConversion}) {
        const std::u16string out = varnel::ConvertText(text, kind);
        Check(!valid || varnel::IsValidUtf16(out));
        if (kind == ConversionKind::NarrowConversion) {
            Check(out.size() >= text.size() && out.size() <= 2 * text.size());
        } else if (kind == ConversionKind::WideConversion) {
            Check(out.size() <= text.size() && 2 * out.size() >= text.size());
        } else {
            Check(out.size() == text.size());
        }
    }
    // Half-width text survives widening and narrowing unchanged, voicing marks included.
    const std::u16string wide = varnel::ConvertText(text, ConversionKind::WideConversion);
    const std::u16string back = varnel::ConvertText(wide, ConversionKind::NarrowConversion);
    bool halfOnly = true;
    for (char16_t c : text) {
        halfOnly = halfOnly && ((c >= 0x20 && c <= 0x7E) || (c >= 0xFF61 && c <= 0xFF9F));
    }
    Check(!halfOnly || back == text);

    Check(varnel::TabToComma(text).size() == text.size());
    Check(varnel::CommaToTab(text).size() == text.size());
    const std::u16string trimmed = varnel::TrimSpaces(text);
    Check(trimmed.size() <= text.size() && text.find(trimmed) != std::u16string::npos);
    Check(!valid || varnel::IsValidUtf16(trimmed));
    Check(varnel::ClearSlot().empty());
    return 0;
}
