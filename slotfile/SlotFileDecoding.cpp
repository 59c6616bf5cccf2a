#include "slotfile/SlotFileDecoding.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "base/Utf8.h"

namespace varnel {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

enum class Utf8Check { IllFormed, ShortSequencesOnly, HasLongSequence };

// Whether the bytes are well-formed UTF-8 and, if so, whether any character takes three or four bytes.
Utf8Check CheckUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    bool longSequence = false;
    while (p < end) {
        // Runs of ASCII, eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) != 0) {
                break;
            }
            p += 8;
        }
        if (p == end) {
            break;
        }
        const unsigned lead = *p++;
        if (lead < 0x80) {
            continue;
        }
        const Utf8Lead rule = ReadUtf8Lead(lead);
        const int need = rule.continuations;
        unsigned lo = rule.firstLow;
        unsigned hi = rule.firstHigh;
        if (need == 0) {
            return Utf8Check::IllFormed;
        }
        for (int i = 0; i < need; ++i) {
            if (p == end || *p < lo || *p > hi) {
                return Utf8Check::IllFormed;
            }
            ++p;
            lo = 0x80;
            hi = 0xBF;
        }
        longSequence = longSequence || need >= 2;
    }
    return longSequence ? Utf8Check::HasLongSequence : Utf8Check::ShortSequencesOnly;
}

bool isCp932Lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isCp932Trail(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

}  // namespace

SlotFileFormat DetectSlotFileFormat(std::string_view bytes) {
    if (bytes.starts_with(Utf8Bom)) {
        return {SlotFileEncoding::Utf8, Utf8Bom.size()};
    }
    const bool utf8 = CheckUtf8(bytes) == Utf8Check::HasLongSequence;
    return {utf8 ? SlotFileEncoding::Utf8 : SlotFileEncoding::Cp932, 0};
}

Result<std::shared_ptr<SlotTextDecoder>> SlotTextDecoder::create(SlotFileEncoding encoding,
                                                                 const Codepage& codepage) {
    using R = Result<std::shared_ptr<SlotTextDecoder>>;
    std::unique_ptr<Cp932Decoder> cp932;
    if (encoding == SlotFileEncoding::Cp932) {
        cp932 = codepage.cp932Decoder();
        if (!cp932) {
            return R::failure("no converter for code page 932");
        }
    }
    return R::success(std::shared_ptr<SlotTextDecoder>(new SlotTextDecoder(encoding, std::move(cp932))));
}

Status SlotTextDecoder::append(std::string_view bytes, std::u16string& out) {
    if (bytes.empty()) {
        return Status::success();
    }
    if (cp932_) {
        return cp932_->append(bytes, out);
    }
    // After a byte order mark a file stays UTF-8 whatever follows; without one it was checked whole.
    DecodeUtf8(bytes, scratch_, Utf8Errors::Replace);
    out += scratch_;
    return Status::success();
}

std::size_t SlotTextDecoder::units(std::string_view bytes) const {
    std::size_t units = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    if (encoding_ == SlotFileEncoding::Utf8) {
        // One unit per byte that is not a continuation byte (10xxxxxx), and one more for each lead
        // byte of a four-byte character (11110xxx and above): eight bytes at a time, then the rest.
        constexpr std::uint64_t High = 0x8080808080808080ull;
        for (; end - p >= 8; p += 8) {
            std::uint64_t w;
            std::memcpy(&w, p, sizeof w);
            const auto continuation = std::popcount(w & ~(w << 1) & High);
            const auto fourByteLead = std::popcount(w & (w << 1) & (w << 2) & (w << 3) & High);
            units += static_cast<std::size_t>(8 - continuation + fourByteLead);
        }
        for (; p < end; ++p) {
            units += (*p & 0xC0) != 0x80;
            units += *p >= 0xF0;
        }
        return units;
    }
    // One unit per byte, or per lead and trail byte pair.
    while (p < end) {
        p += end - p >= 2 && isCp932Lead(p[0]) && isCp932Trail(p[1]) ? 2 : 1;
        ++units;
    }
    return units;
}

}  // namespace varnel
