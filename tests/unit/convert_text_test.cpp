#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/Utf16.h"
#include "text/ConvertText.h"

namespace varnel {
namespace {

using K = ConversionKind;

// Code units as "U+XXXX ..." so that a failure shows exactly which unit differs.
std::string Units(std::u16string_view text) {
    std::string out;
    char buffer[8];
    for (char16_t c : text) {
        std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(c));
        out += buffer;
    }
    return out;
}

struct Case {
    K kind;
    std::u16string in;
    std::u16string out;
};

class Conversions : public testing::TestWithParam<Case> {};

TEST_P(Conversions, GiveTheExpectedText) {
    const Case& c = GetParam();
    EXPECT_EQ(Units(ConvertText(c.in, c.kind)), Units(c.out)) << Units(c.in);
}

// Test names such as "Upper3": the conversion and the case's place in its list, instead of the case's
// bytes, which change from one listing to the next.
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    const char* kind = "Other";
    switch (info.param.kind) {
        case K::UpperCaseConversion:
            kind = "Upper";
            break;
        case K::LowerCaseConversion:
            kind = "Lower";
            break;
        case K::WideConversion:
            kind = "Wide";
            break;
        case K::NarrowConversion:
            kind = "Narrow";
            break;
        case K::KatakanaConversion:
            kind = "Katakana";
            break;
        case K::HiraganaConversion:
            kind = "Hiragana";
            break;
    }
    return kind + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    Narrow, Conversions,
    testing::Values(Case{K::NarrowConversion, u"ＡＢＣ\u3000１２３", u"ABC 123"},
                    Case{K::NarrowConversion, u"！＂＃＇＼～｝", u"!\"#'\\~}"},
                    Case{K::NarrowConversion, u"ガ", u"ｶﾞ"}, Case{K::NarrowConversion, u"パソコン", u"ﾊﾟｿｺﾝ"},
                    Case{K::NarrowConversion, u"ヴゾヅボポ", u"ｳﾞｿﾞﾂﾞﾎﾞﾎﾟ"},
                    Case{K::NarrowConversion, u"ァィゥェォャュョッーヲ", u"ｧｨｩｪｫｬｭｮｯｰｦ"},
                    Case{K::NarrowConversion, u"。「」、・゛゜", u"｡｢｣､･ﾞﾟ"},
                    // Not named by any rule: unchanged.
                    Case{K::NarrowConversion, u"￥￣‘’“”｟", u"￥￣‘’“”｟"},
                    Case{K::NarrowConversion, u"ひらがな漢字ヮヰヱヵヶヷヺ", u"ひらがな漢字ヮヰヱヵヶヷヺ"},
                    Case{K::NarrowConversion, u"ｶﾞ ABC\r\n\t", u"ｶﾞ ABC\r\n\t"},
                    Case{K::NarrowConversion, u"カ\u3099", u"ｶ\u3099"},
                    Case{K::NarrowConversion, u"𠮷ガ\xD800Ａ",
                         u"𠮷ｶﾞ\xD800"
                         u"A"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Wide, Conversions,
    testing::Values(Case{K::WideConversion, u"ABC 123", u"ＡＢＣ\u3000１２３"},
                    Case{K::WideConversion, u"!\"#'\\~}", u"！＂＃＇＼～｝"},
                    Case{K::WideConversion, u"ﾊﾟｿｺﾝ", u"パソコン"}, Case{K::WideConversion, u"ｶﾞ", u"ガ"},
                    Case{K::WideConversion, u"ｳﾞｿﾞﾂﾞﾎﾞﾎﾟ", u"ヴゾヅボポ"},
                    Case{K::WideConversion, u"｡｢｣､･ｦｧｯｰ", u"。「」、・ヲァッー"},
                    // Marks that cannot join stand alone; a mark never joins a mark.
                    Case{K::WideConversion, u"ﾞｱﾞｶﾟﾜﾞｦﾞｶﾞﾞ", u"゛ア゛カ゜ワ゛ヲ゛ガ゛"},
                    Case{K::WideConversion, u"aﾞ ﾟ\nﾞ", u"ａ゛\u3000゜\n゛"},
                    Case{K::WideConversion, u"a\r\nb\tc", u"ａ\r\nｂ\tｃ"},
                    Case{K::WideConversion, u"¥¯ﾡ￨漢", u"¥¯ﾡ￨漢"},
                    Case{K::WideConversion, u"𠮷ｶﾞ\xDC00ｶ\xD800ﾞ", u"𠮷ガ\xDC00カ\xD800゛"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Kana, Conversions,
    testing::Values(Case{K::KatakanaConversion, u"ひらがなぁんゝゞー", u"ヒラガナァンヽヾー"},
                    Case{K::KatakanaConversion, u"ゔゕゖゟ゛ｶﾀｶﾅ漢字abc", u"ゔゕゖゟ゛ｶﾀｶﾅ漢字abc"},
                    Case{K::HiraganaConversion, u"カタカナァンヽヾー", u"かたかなぁんゝゞー"},
                    Case{K::HiraganaConversion, u"ヴヵヶヷヺ・ヿｶﾀｶﾅ", u"ヴヵヶヷヺ・ヿｶﾀｶﾅ"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Case, Conversions,
    testing::Values(Case{K::UpperCaseConversion, u"abc xyz", u"ABC XYZ"},
                    Case{K::UpperCaseConversion, u"ａｂｃ", u"ＡＢＣ"},
                    Case{K::LowerCaseConversion, u"ＡＢＣ Abc", u"ａｂｃ abc"},
                    Case{K::UpperCaseConversion, u"αβγ жд", u"ΑΒΓ ЖД"},
                    // Simple mapping only: no final sigma, no expansion of ß, no Turkish dotted I.
                    Case{K::LowerCaseConversion, u"ΟΔΟΣ İ", u"οδοσ i"},
                    Case{K::UpperCaseConversion, u"ßiı", u"ßII"},
                    // Where system case APIs disagree with Unicode: the same answer on every platform.
                    Case{K::UpperCaseConversion, u"µſǅǈ", u"ΜSǄǇ"},
                    Case{K::LowerCaseConversion, u"ǅǲẞΩ", u"ǆǳßω"},
                    Case{K::UpperCaseConversion, u"かな漢字１２３！ｱ", u"かな漢字１２３！ｱ"},
                    // Supplementary letters map as pairs; unpaired surrogates stay.
                    Case{K::UpperCaseConversion, u"𐐨a\xD801", u"𐐀A\xD801"},
                    Case{K::LowerCaseConversion, u"\xDC00𐐀A", u"\xDC00𐐨a"}),
    CaseName);

TEST(ConvertText, EveryOperationGivesEmptyForEmpty) {
    for (int kind : {1, 2, 4, 8, 16, 32}) {
        EXPECT_EQ(ConvertText(u"", static_cast<K>(kind)), u"") << kind;
    }
    EXPECT_EQ(TabToComma(u""), u"");
    EXPECT_EQ(CommaToTab(u""), u"");
    EXPECT_EQ(TrimSpaces(u""), u"");
    EXPECT_EQ(ClearSlot(), u"");
}

TEST(ConvertText, ValuesThatAreNotOneKindLeaveTheTextAlone) {
    for (int kind : {0, 3, 12, 48, 64, -1, 0x7FFF}) {
        EXPECT_EQ(ConvertText(u"aｶﾞ", static_cast<K>(kind)), u"aｶﾞ") << kind;
    }
}

TEST(ConversionKindForButton, FollowsTheButtonRow) {
    EXPECT_EQ(ConversionKindForButton(0), K::NarrowConversion);
    EXPECT_EQ(ConversionKindForButton(1), K::WideConversion);
    EXPECT_EQ(ConversionKindForButton(2), K::HiraganaConversion);
    EXPECT_EQ(ConversionKindForButton(3), K::KatakanaConversion);
    EXPECT_EQ(ConversionKindForButton(4), K::UpperCaseConversion);
    EXPECT_EQ(ConversionKindForButton(5), K::LowerCaseConversion);
    EXPECT_EQ(ConversionKindForButton(6), std::nullopt);
    EXPECT_EQ(ConversionKindForButton(-1), std::nullopt);
}

TEST(SlotOperations, SwapTabsAndCommas) {
    EXPECT_EQ(TabToComma(u"no tabs, here"), u"no tabs, here");
    EXPECT_EQ(TabToComma(u"a\t1\r\nb\t2\r\nc\t3"), u"a,1\r\nb,2\r\nc,3");
    EXPECT_EQ(TabToComma(u"\t\t"), u",,");
    EXPECT_EQ(CommaToTab(u"a,b，c、d,"), u"a\tb，c、d\t");
}

TEST(SlotOperations, TrimOnlyOuterSpaces) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"   ", u""},
        {u" a b ", u"a b"},
        {u"\t  a  ", u"\t  a"},
        {u"  x\r\n", u"x\r\n"},
        {u"\u3000字\u3000", u"\u3000字\u3000"},
        {u" \u3000 ", u"\u3000"},
        {u"a", u"a"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(Units(TrimSpaces(in)), Units(out)) << Units(in);
    }
}

// Random texts drawn from the given code points; supplementary ones are written as pairs.
std::u16string RandomText(std::mt19937& rng, const std::vector<char32_t>& alphabet, std::size_t length) {
    std::u16string text;
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t c = alphabet[rng() % alphabet.size()];
        AppendUtf16(text, c);
    }
    return text;
}

std::vector<char32_t> Range(char32_t first, char32_t last, std::vector<char32_t> more = {}) {
    for (char32_t c = first; c <= last; ++c) {
        more.push_back(c);
    }
    return more;
}

TEST(RoundTrips, HoldOverRandomText) {
    std::mt19937 rng(7);
    const auto fullKatakana = Range(0x30A0, 0x30FF, {0x3000, 0x3002, 0x3001, 0x300C, 0x300D, 0x6F22});
    const auto halfAndAscii = Range(0xFF61, 0xFF9F, Range(0x20, 0x7E, {u'\r', u'\n', u'\t'}));
    const auto fullForms = Range(0xFF01, 0xFF5E, {0x3000});
    const auto hiragana = Range(0x3041, 0x309F, {0x30FC});
    for (int round = 0; round < 300; ++round) {
        const std::size_t length = rng() % 40;
        const auto kata = RandomText(rng, fullKatakana, length);
        EXPECT_EQ(ConvertText(ConvertText(kata, K::NarrowConversion), K::WideConversion), kata)
            << Units(kata);
        const auto full = RandomText(rng, fullForms, length);
        EXPECT_EQ(ConvertText(ConvertText(full, K::NarrowConversion), K::WideConversion), full)
            << Units(full);
        const auto half = RandomText(rng, halfAndAscii, length);
        EXPECT_EQ(ConvertText(ConvertText(half, K::WideConversion), K::NarrowConversion), half)
            << Units(half);
        const auto hira = RandomText(rng, hiragana, length);
        EXPECT_EQ(ConvertText(ConvertText(hira, K::KatakanaConversion), K::HiraganaConversion), hira)
            << Units(hira);
        EXPECT_EQ(ConvertText(ConvertText(kata, K::HiraganaConversion), K::KatakanaConversion), kata)
            << Units(kata);
    }
}

TEST(RoundTrips, CaseKeepsLengthAndWidthAndPairs) {
    std::mt19937 rng(11);
    // Latin, Greek, Cyrillic, full-width forms, kana and some supplementary letters.
    const auto letters = Range(
        0x20, 0x24F, Range(0x370, 0x4FF, Range(0xFF01, 0xFF5E, {0x3042, 0x30AB, 0x10400, 0x10428, 0x1F600})));
    const auto fullWidth = [](char16_t c) { return c >= 0xFF01 && c <= 0xFF5E; };
    for (int round = 0; round < 300; ++round) {
        const auto text = RandomText(rng, letters, rng() % 40);
        for (K kind : {K::UpperCaseConversion, K::LowerCaseConversion}) {
            const auto out = ConvertText(text, kind);
            ASSERT_EQ(out.size(), text.size()) << Units(text);
            EXPECT_TRUE(IsValidUtf16(out)) << Units(text);
            for (std::size_t i = 0; i < text.size(); ++i) {
                EXPECT_EQ(fullWidth(out[i]), fullWidth(text[i])) << Units(text);
            }
        }
    }
}

TEST(RoundTrips, SupplementaryCharactersPassThroughIntact) {
    std::mt19937 rng(13);
    // Pairs next to every kind of character the width and kana rules touch, and unpaired halves.
    const auto alphabet = Range(
        0xFF61, 0xFF9F, {0x20BB7, 0x1F600, 0x10400, 0x30AC, 0x3042, 0xFF21, u'A', 0x3000, 0xD800, 0xDFFF});
    for (int round = 0; round < 300; ++round) {
        const auto text = RandomText(rng, alphabet, rng() % 40);
        for (K kind :
             {K::NarrowConversion, K::WideConversion, K::KatakanaConversion, K::HiraganaConversion}) {
            const auto out = ConvertText(text, kind);
            std::u16string inSurrogates, outSurrogates;
            for (char16_t c : text) {
                if (IsSurrogate(c)) {
                    inSurrogates += c;
                }
            }
            for (char16_t c : out) {
                if (IsSurrogate(c)) {
                    outSurrogates += c;
                }
            }
            EXPECT_EQ(outSurrogates, inSurrogates) << Units(text);
            EXPECT_EQ(IsValidUtf16(out), IsValidUtf16(text)) << Units(text);
        }
    }
}

TEST(ConvertText, LongTextsCrossTheInternalBlocks) {
    // Every narrowed unit doubles: the output outgrows any first guess at its length.
    const std::u16string voiced(20000, u'ガ');
    std::u16string split;
    for (int i = 0; i < 20000; ++i) {
        split += u"ｶﾞ";
    }
    EXPECT_EQ(ConvertText(voiced, K::NarrowConversion), split);
    EXPECT_EQ(ConvertText(split, K::WideConversion), voiced);
    // A pair across the case pass's block boundary stays a pair and is mapped.
    std::u16string text(4095, u'a');
    text += u"𐐨";
    std::u16string upper(4095, u'A');
    upper += u"𐐀";
    EXPECT_EQ(ConvertText(text, K::UpperCaseConversion), upper);
    // So does a pair that follows an unpaired high half at the boundary.
    text.insert(4095, 1, char16_t{0xD801});
    upper.insert(4095, 1, char16_t{0xD801});
    EXPECT_EQ(ConvertText(text, K::UpperCaseConversion), upper);
}

}  // namespace
}  // namespace varnel
