#include "platform/keysyms/Keysyms.h"

#include "base/Utf16.h"

namespace varnel {

namespace {

constexpr std::uint32_t TabKeysym = 0xFF09;
constexpr std::uint32_t ReturnKeysym = 0xFF0D;
constexpr std::uint32_t UnicodeKeysymBase = 0x1000000;
constexpr std::uint32_t ReplacementCharacter = 0xFFFD;

}  // namespace

std::vector<std::uint32_t> KeysymsFor(const std::u16string& text) {
    std::vector<std::uint32_t> keysyms;
    keysyms.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePointAt at = DecodeUtf16At(text, i);
        i += at.units;
        const std::uint32_t c = IsSurrogate(at.cp) ? ReplacementCharacter : at.cp;
        if (c == u'\t') {
            keysyms.push_back(TabKeysym);
        } else if (c == u'\r' || c == u'\n') {
            keysyms.push_back(ReturnKeysym);
        } else if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
            keysyms.push_back(c);
        } else {
            keysyms.push_back(UnicodeKeysymBase + c);
        }
    }
    return keysyms;
}

}  // namespace varnel
