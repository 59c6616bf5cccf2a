// Width and kana mapping are tables of our own; case mapping is Unicode's simple case mapping, from the
// pairs generated at build time (CaseTables.h). Each conversion is one pass over the text with a 65,536-entry
// table per kind, built on first use (thread-safe: function-local statics). Only the voiced katakana, which
// split into two characters under narrowing and join back under widening, and supplementary letters under
// case mapping leave the plain table step.
#include "text/ConvertText.h"

#include "base/Utf16.h"
#include "text/CaseTables.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace varnel {
namespace {

constexpr std::size_t kCodeUnits = 0x10000;
using Table16 = std::array<char16_t, kCodeUnits>;

constexpr char16_t kHalfwidthFirst = 0xFF61;      // ｡
constexpr char16_t kHalfwidthLast = 0xFF9F;       // ﾟ
constexpr char16_t kHalfVoicedMark = 0xFF9E;      // ﾞ
constexpr char16_t kHalfSemiVoicedMark = 0xFF9F;  // ﾟ
constexpr std::size_t kHalfwidthCount = kHalfwidthLast - kHalfwidthFirst + 1;

// The full-width counterpart of every JIS X 0201 character U+FF61..U+FF9F, in that order: five marks of
// punctuation, ヲ, the small letters, the prolonged sound mark, the letters ア..ン and the two voicing marks.
constexpr std::array<char16_t, kHalfwidthCount> kFullOfHalfwidth = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB,                          // ｡｢｣､･
    0x30F2,                                                          // ｦ
    0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7,  // ｧｨｩｪｫｬｭｮ
    0x30C3, 0x30FC,                                                  // ｯｰ
    0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA,                          // ｱｲｳｴｵ
    0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,                          // ｶｷｸｹｺ
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD,                          // ｻｼｽｾｿ
    0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8,                          // ﾀﾁﾂﾃﾄ
    0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE,                          // ﾅﾆﾇﾈﾉ
    0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB,                          // ﾊﾋﾌﾍﾎ
    0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2,                          // ﾏﾐﾑﾒﾓ
    0x30E4, 0x30E6, 0x30E8,                                          // ﾔﾕﾖ
    0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED,                          // ﾗﾘﾙﾚﾛ
    0x30EF, 0x30F3,                                                  // ﾜﾝ
    0x309B, 0x309C,                                                  // ﾞﾟ
};

// Katakana letters whose voiced form is the next code point: the ka, sa, ta and ha rows.
constexpr std::array<char16_t, 20> kVoicedByNextCodePoint = {
    0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD,
    0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB,
};
// The ha row, whose semi-voiced form is two code points on.
constexpr std::array<char16_t, 5> kHaRow = {0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB};
constexpr char16_t kKatakanaU = 0x30A6;   // ウ
constexpr char16_t kKatakanaVu = 0x30F4;  // ヴ

constexpr char16_t kFullwidthFirst = 0xFF01;
constexpr char16_t kFullwidthLast = 0xFF5E;
constexpr char16_t kFullwidthOffset = 0xFEE0;
constexpr char16_t kIdeographicSpace = 0x3000;

constexpr char16_t HalfwidthOf(char16_t full) {
    for (std::size_t i = 0; i < kHalfwidthCount; ++i) {
        if (kFullOfHalfwidth[i] == full) {
            return static_cast<char16_t>(kHalfwidthFirst + i);
        }
    }
    return 0;
}

void FillIdentity(Table16& table) {
    for (std::size_t c = 0; c < kCodeUnits; ++c) {
        table[c] = static_cast<char16_t>(c);
    }
}

// Half-width to full-width. The low half of each entry is the full-width unit. For the JIS X 0201
// characters, bits 16..17 tell a voicing mark (1 ﾞ, 2 ﾟ) and bits 18..23 number the character (1 for
// U+FF61 on), so that a letter and the mark after it find their joined letter in one small table.
struct WideTable {
    static constexpr int kMarkShift = 16;
    static constexpr int kLetterShift = 18;
    static constexpr std::uint32_t kMarkBits = 3u << kMarkShift;
    static constexpr std::size_t kLetters = 64;
    std::array<std::uint32_t, kCodeUnits> map;
    // joined[mark * kLetters + letter]: the single letter the pair forms, 0 where there is none
    // (mark 0 means no mark at all).
    std::array<char16_t, 3 * kLetters> joined{};

    WideTable() {
        for (std::size_t c = 0; c < kCodeUnits; ++c) {
            map[c] = static_cast<std::uint32_t>(c);
        }
        for (char16_t c = kFullwidthFirst - kFullwidthOffset; c <= kFullwidthLast - kFullwidthOffset; ++c) {
            map[c] = static_cast<char16_t>(c + kFullwidthOffset);
        }
        map[u' '] = kIdeographicSpace;
        for (std::size_t i = 0; i < kHalfwidthCount; ++i) {
            map[kHalfwidthFirst + i] =
                kFullOfHalfwidth[i] | static_cast<std::uint32_t>((i + 1) << kLetterShift);
        }
        map[kHalfVoicedMark] |= 1u << kMarkShift;
        map[kHalfSemiVoicedMark] |= 2u << kMarkShift;
        for (char16_t full : kVoicedByNextCodePoint) {
            joined[kLetters + LetterNumber(full)] = static_cast<char16_t>(full + 1);
        }
        for (char16_t full : kHaRow) {
            joined[2 * kLetters + LetterNumber(full)] = static_cast<char16_t>(full + 2);
        }
        joined[kLetters + LetterNumber(kKatakanaU)] = kKatakanaVu;
    }
    static std::size_t LetterNumber(char16_t full) { return HalfwidthOf(full) - kHalfwidthFirst + 1u; }
};

// Full-width to half-width. Each entry holds the first unit in its low half and, for the voiced and
// semi-voiced katakana, the half-width mark that follows in its high half (0 otherwise).
struct NarrowTable {
    std::array<std::uint32_t, kCodeUnits> map;
    NarrowTable() {
        for (std::size_t c = 0; c < kCodeUnits; ++c) {
            map[c] = static_cast<std::uint32_t>(c);
        }
        for (char16_t c = kFullwidthFirst; c <= kFullwidthLast; ++c) {
            map[c] = static_cast<char16_t>(c - kFullwidthOffset);
        }
        map[kIdeographicSpace] = u' ';
        for (std::size_t i = 0; i < kHalfwidthCount; ++i) {
            map[kFullOfHalfwidth[i]] = static_cast<std::uint32_t>(kHalfwidthFirst + i);
        }
        for (char16_t full : kVoicedByNextCodePoint) {
            map[full + 1] = HalfwidthOf(full) | (std::uint32_t{kHalfVoicedMark} << 16);
        }
        for (char16_t full : kHaRow) {
            map[full + 2] = HalfwidthOf(full) | (std::uint32_t{kHalfSemiVoicedMark} << 16);
        }
        map[kKatakanaVu] = HalfwidthOf(kKatakanaU) | (std::uint32_t{kHalfVoicedMark} << 16);
    }
};

constexpr char16_t kHiraganaFirst = 0x3041;  // ぁ
constexpr char16_t kHiraganaLast = 0x3093;   // ん
constexpr char16_t kKanaOffset = 0x60;
constexpr char16_t kHiraganaIteration = 0x309D;        // ゝ
constexpr char16_t kHiraganaVoicedIteration = 0x309E;  // ゞ
constexpr char16_t kKatakanaIteration = 0x30FD;        // ヽ
constexpr char16_t kKatakanaVoicedIteration = 0x30FE;  // ヾ

struct KatakanaTable {
    Table16 map;
    KatakanaTable() {
        FillIdentity(map);
        for (char16_t c = kHiraganaFirst; c <= kHiraganaLast; ++c) {
            map[c] = static_cast<char16_t>(c + kKanaOffset);
        }
        map[kHiraganaIteration] = kKatakanaIteration;
        map[kHiraganaVoicedIteration] = kKatakanaVoicedIteration;
    }
};

struct HiraganaTable {
    Table16 map;
    HiraganaTable() {
        FillIdentity(map);
        for (char16_t c = kHiraganaFirst + kKanaOffset; c <= kHiraganaLast + kKanaOffset; ++c) {
            map[c] = static_cast<char16_t>(c - kKanaOffset);
        }
        map[kKatakanaIteration] = kHiraganaIteration;
        map[kKatakanaVoicedIteration] = kHiraganaVoicedIteration;
    }
};

// The simple case mapping of every BMP code point, in the low half of each entry. A mapping that would
// leave the BMP (there is none in current Unicode) is not taken, so that case mapping never changes the
// length of a text. The entries of the surrogates map them to themselves and carry kSurrogateFlag.
constexpr std::uint32_t kSurrogateFlag = 0x10000;
struct CaseTable {
    std::array<std::uint32_t, kCodeUnits> map;
    std::span<const CasePair> pairs;
    explicit CaseTable(std::span<const CasePair> casePairs) : pairs(casePairs) {
        for (std::size_t c = 0; c < kCodeUnits; ++c) {
            const auto unit = static_cast<char16_t>(c);
            map[c] = IsSurrogate(unit) ? unit | kSurrogateFlag : unit;
        }
        for (const CasePair& p : pairs) {
            if (p.from < kCodeUnits && !IsSurrogate(p.from) && p.to < kCodeUnits && !IsSurrogate(p.to)) {
                map[p.from] = static_cast<std::uint32_t>(p.to);
            }
        }
    }
};

const WideTable& Wide() {
    static const WideTable table;
    return table;
}
const NarrowTable& Narrow() {
    static const NarrowTable table;
    return table;
}
const KatakanaTable& Katakana() {
    static const KatakanaTable table;
    return table;
}
const HiraganaTable& Hiragana() {
    static const HiraganaTable table;
    return table;
}
const CaseTable& Upper() {
    static const CaseTable table(UpperCasePairs());
    return table;
}
const CaseTable& Lower() {
    static const CaseTable table(LowerCasePairs());
    return table;
}

// One unit in, one unit out.
std::u16string MapUnits(std::u16string_view text, const Table16& map) {
    std::u16string out(text.size(), u'\0');
    char16_t* p = out.data();
    for (const char16_t c : text) {
        *p++ = map[c];
    }
    return out;
}

// Writes the case mapping of every surrogate pair in [begin, end) of text to the same place in out. Pairs
// stay pairs: a supplementary letter whose mapping would leave its plane's range keeps its form.
[[gnu::noinline]] void MapSupplementaryCase(std::u16string_view text, std::size_t begin, std::size_t end,
                                            char16_t* out, std::span<const CasePair> pairs) {
    const std::u16string_view upToEnd = text.substr(0, end);
    for (std::size_t i = begin; i < end;) {
        const CodePointAt at = DecodeUtf16At(upToEnd, i);
        if (at.units == 2) {
            char32_t mapped = MapCodePoint(pairs, at.cp);
            if (mapped < 0x10000 || mapped > 0x10FFFF) {
                mapped = at.cp;
            }
            PutUtf16(mapped, out + i);
        }
        i += at.units;
    }
}

// The table pass runs block by block; a block that held a surrogate gets its pairs mapped afterwards.
// A block never ends between the two halves of a pair.
std::u16string MapCase(std::u16string_view text, const CaseTable& table) {
    constexpr std::size_t kBlock = 4096;
    const std::size_t n = text.size();
    std::u16string out(n, u'\0');
    char16_t* const p = out.data();
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = std::min(n, begin + kBlock);
        if (end < n && DecodeUtf16At(text, end - 1).units == 2) {
            ++end;
        }
        std::uint32_t seen = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint32_t v = table.map[text[i]];
            p[i] = static_cast<char16_t>(v);
            seen |= v;
        }
        if (seen & kSurrogateFlag) [[unlikely]] {
            MapSupplementaryCase(text, begin, end, p, table.pairs);
        }
        begin = end;
    }
    return out;
}

// Joining only shortens the text, so the result fits in the input's length. A mark that joins the letter
// before it replaces that letter's unit instead of taking a place of its own. A mark never joins a mark,
// so "ｶﾞﾞ" gives "ガ゛".
std::u16string Widen(std::u16string_view text) {
    const WideTable& table = Wide();
    std::u16string out(text.size(), u'\0');
    char16_t* const begin = out.data();
    char16_t* p = begin;
    std::uint32_t previous = 0;
    for (const char16_t c : text) {
        const std::uint32_t v = table.map[c];
        *p++ = static_cast<char16_t>(v);
        if (v & WideTable::kMarkBits) [[unlikely]] {
            const std::size_t mark = v >> WideTable::kMarkShift & 3u;
            if (const char16_t joined =
                    table.joined[mark * WideTable::kLetters + (previous >> WideTable::kLetterShift)]) {
                --p;
                p[-1] = joined;
            }
        }
        previous = v;
    }
    out.resize(static_cast<std::size_t>(p - begin));
    return out;
}

// Splitting lengthens the text by at most one unit per unit. The output grows block by block so that
// a text with few voiced letters needs little more than its own length.
std::u16string NarrowText(std::u16string_view text) {
    constexpr std::size_t kBlock = 4096;
    const auto& map = Narrow().map;
    const std::size_t n = text.size();
    std::u16string out(n + n / 8 + 16, u'\0');
    std::size_t written = 0;
    for (std::size_t i = 0; i < n;) {
        const std::size_t end = std::min(n, i + kBlock);
        const std::size_t needed = written + 2 * (end - i);
        if (needed > out.size()) {
            out.resize(std::max(needed, out.size() + out.size() / 2));
        }
        char16_t* const begin = out.data() + written;
        char16_t* p = begin;
        for (; i < end; ++i) {
            const std::uint32_t v = map[text[i]];
            p[0] = static_cast<char16_t>(v);
            p[1] = static_cast<char16_t>(v >> 16);
            p += v > 0xFFFF ? 2 : 1;
        }
        written += static_cast<std::size_t>(p - begin);
    }
    out.resize(written);
    return out;
}

std::u16string ReplaceUnit(std::u16string_view text, char16_t from, char16_t to) {
    std::u16string out(text);
    std::replace(out.begin(), out.end(), from, to);
    return out;
}

}  // namespace

char32_t MapCodePoint(std::span<const CasePair> pairs, char32_t c) {
    const auto found = std::lower_bound(pairs.begin(), pairs.end(), c,
                                        [](const CasePair& p, char32_t v) { return p.from < v; });
    return found != pairs.end() && found->from == c ? found->to : c;
}

std::u16string ConvertText(std::u16string_view text, ConversionKind kind) {
    switch (kind) {
        case ConversionKind::UpperCaseConversion:
            return MapCase(text, Upper());
        case ConversionKind::LowerCaseConversion:
            return MapCase(text, Lower());
        case ConversionKind::WideConversion:
            return Widen(text);
        case ConversionKind::NarrowConversion:
            return NarrowText(text);
        case ConversionKind::KatakanaConversion:
            return MapUnits(text, Katakana().map);
        case ConversionKind::HiraganaConversion:
            return MapUnits(text, Hiragana().map);
    }
    return std::u16string(text);
}

std::u16string TabToComma(std::u16string_view text) {
    return ReplaceUnit(text, u'\t', u',');
}

std::u16string CommaToTab(std::u16string_view text) {
    return ReplaceUnit(text, u',', u'\t');
}

std::u16string TrimSpaces(std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(u' ');
    return std::u16string(text.substr(first, last - first + 1));
}

std::u16string ClearSlot() {
    return {};
}

std::optional<ConversionKind> ConversionKindForButton(std::int16_t index) {
    static constexpr std::array<ConversionKind, 6> kKinds = {
        ConversionKind::NarrowConversion,    ConversionKind::WideConversion,
        ConversionKind::HiraganaConversion,  ConversionKind::KatakanaConversion,
        ConversionKind::UpperCaseConversion, ConversionKind::LowerCaseConversion,
    };
    if (index < 0 || static_cast<std::size_t>(index) >= kKinds.size()) {
        return std::nullopt;
    }
    return kKinds[static_cast<std::size_t>(index)];
}

}  // namespace varnel
