// UTF-8 and UTF-16, the one pair of converters every part of the program uses.
#pragma once

#include <string>
#include <string_view>

namespace varnel {

enum class Utf8Errors {
    Stop,     // give up at the first ill-formed sequence
    Replace,  // each maximal ill-formed subpart becomes U+FFFD
};

// Decodes UTF-8 into UTF-16 in one pass. Returns false when it stopped at an ill-formed sequence
// (Utf8Errors::Stop); `out` then holds an unspecified prefix.
bool DecodeUtf8(std::string_view bytes, std::u16string& out, Utf8Errors errors);

// What a UTF-8 lead byte allows: the number of continuation bytes (0 for a byte that cannot lead a
// sequence), the range of the first of them (which excludes overlong forms, surrogates and code points
// above U+10FFFF; the others are always 0x80..0xBF), and the lead's payload bits.
struct Utf8Lead {
    int continuations = 0;
    unsigned firstLow = 0x80;
    unsigned firstHigh = 0xBF;
    unsigned payload = 0;
};
constexpr Utf8Lead ReadUtf8Lead(unsigned lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {1, 0x80, 0xBF, lead & 0x1Fu};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {2, lead == 0xE0 ? 0xA0u : 0x80u, lead == 0xED ? 0x9Fu : 0xBFu, lead & 0x0Fu};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {3, lead == 0xF0 ? 0x90u : 0x80u, lead == 0xF4 ? 0x8Fu : 0xBFu, lead & 0x07u};
    }
    return {};
}

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text);

}  // namespace varnel
