// UTF-16 surrogate pairs: the one place that knows how a code point above U+FFFF is split into two
// units and put back together. Texts are UTF-16 throughout the program and may hold unpaired
// surrogates; these helpers leave what to do with one to the caller.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

constexpr bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// The code point that starts at text[i] (i < text.size()) and the number of units it takes: a pair
// decodes to its code point (2 units); an unpaired surrogate, high or low, decodes as itself (1 unit).
struct CodePointAt {
    char32_t cp;
    std::size_t units;
};
constexpr CodePointAt DecodeUtf16At(std::u16string_view text, std::size_t i) {
    const char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        return {0x10000 + ((c - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00), 2};
    }
    return {c, 1};
}

// Writes the units of a code point (at most U+10FFFF) at out and returns the end: a pair for one above
// U+FFFF, else the one unit (so a surrogate code point is written as itself).
constexpr char16_t* PutUtf16(char32_t cp, char16_t* out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        *out++ = static_cast<char16_t>(cp);
    }
    return out;
}

// Appends the units of a code point (at most U+10FFFF), as PutUtf16 writes them.
inline void AppendUtf16(std::u16string& out, char32_t cp) {
    char16_t units[2];
    out.append(units, static_cast<std::size_t>(PutUtf16(cp, units) - units));
}

// Whether the text holds no unpaired surrogate.
constexpr bool IsValidUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const CodePointAt at = DecodeUtf16At(text, i);
        if (IsSurrogate(at.cp)) {
            return false;
        }
        i += at.units;
    }
    return true;
}

}  // namespace varnel
