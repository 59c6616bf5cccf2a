// The text operations of the conversion buttons and of the slot context menu. Every one takes a whole
// text and returns a whole new text; none reads or changes the clipboard, a slot or any shared state.
// The results are the same on every machine, whatever its locale (docs/conversions.md lists the rules).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// Each value is its conversion code, a single bit. An operation uses exactly one of them.
enum class ConversionKind : std::int16_t {
    UpperCaseConversion = 1,
    LowerCaseConversion = 2,
    WideConversion = 4,
    NarrowConversion = 8,
    KatakanaConversion = 16,
    HiraganaConversion = 32,
};

// The converted text for one kind. A value that is not one of the six kinds returns the text unchanged.
// Surrogate pairs are never split; unpaired surrogates pass through as they are.
std::u16string ConvertText(std::u16string_view text, ConversionKind kind);

// Every tab becomes a comma.
std::u16string TabToComma(std::u16string_view text);
// Every ASCII comma becomes a tab; U+FF0C and U+3001 stay.
std::u16string CommaToTab(std::u16string_view text);
// Removes the spaces U+0020 before the first and after the last other character. Tabs, line breaks and
// the ideographic space U+3000 are kept.
std::u16string TrimSpaces(std::u16string_view text);
// The empty text.
std::u16string ClearSlot();

// The kind of the conversion button at index: 0 narrow, 1 wide, 2 hiragana, 3 katakana, 4 upper
// case, 5 lower case; no kind for any other index.
std::optional<ConversionKind> ConversionKindForButton(std::int16_t index);

}  // namespace varnel
