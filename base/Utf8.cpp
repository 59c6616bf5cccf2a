#include "base/Utf8.h"

#include <cstdint>
#include <cstring>

#include "base/Utf16.h"

namespace varnel {

namespace {

constexpr char16_t Replacement = u'\uFFFD';

}  // namespace

bool DecodeUtf8(std::string_view bytes, std::u16string& out, Utf8Errors errors) {
    // Every sequence, well-formed or not, yields at most one UTF-16 unit per byte it consumes, so the
    // reservation is enough. Units go through a small buffer: only the memory the text needs is
    // touched, which matters for large files.
    out.clear();
    out.reserve(bytes.size());
    constexpr std::size_t BufferUnits = 4096;
    char16_t buffer[BufferUnits];
    char16_t* const bufferEnd = buffer + BufferUnits;
    char16_t* o = buffer;
    const auto flush = [&] {
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        o = buffer;
    };

    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (bufferEnd - o < 16) {
            flush();
        }
        // Runs of ASCII, eight bytes at a time, leaving room for the two units of one character.
        while (end - p >= 8 && bufferEnd - o >= 10) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) != 0) {
                break;
            }
            for (int i = 0; i < 8; ++i) {
                o[i] = p[i];
            }
            o += 8;
            p += 8;
        }
        if (p == end) {
            break;
        }
        const unsigned lead = *p++;
        if (lead < 0x80) {
            *o++ = static_cast<char16_t>(lead);
            continue;
        }
        const Utf8Lead rule = ReadUtf8Lead(lead);
        const int need = rule.continuations;
        std::uint32_t cp = rule.payload;
        unsigned lo = rule.firstLow;
        unsigned hi = rule.firstHigh;
        if (need == 0) {
            if (errors == Utf8Errors::Stop) {
                return false;
            }
            *o++ = Replacement;
            continue;
        }
        int got = 0;
        while (got < need && p < end && *p >= lo && *p <= hi) {
            cp = (cp << 6) | (*p++ & 0x3Fu);
            lo = 0x80;
            hi = 0xBF;
            ++got;
        }
        if (got < need) {
            // The bytes consumed so far are the maximal subpart: one replacement for all of them.
            if (errors == Utf8Errors::Stop) {
                return false;
            }
            *o++ = Replacement;
            continue;
        }
        o = PutUtf16(cp, o);
    }
    flush();
    return true;
}

std::string EncodeUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size() * 3);
    for (std::size_t i = 0; i < in.size();) {
        const CodePointAt at = DecodeUtf16At(in, i);
        i += at.units;
        const char32_t c = IsSurrogate(at.cp) ? char32_t{Replacement} : at.cp;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace varnel
