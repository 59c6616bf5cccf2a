#include "editing/SlotMenu.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

#include "text/ConvertText.h"

namespace varnel {

const char16_t SlotMenuTitle[] = u"編集";

const SlotMenuItem SlotMenuItems[12] = {
    {u"半角", MenuNarrow},       {u"全角", MenuWide},           {u"ひらがな", MenuHiragana},
    {u"カタカナ", MenuKatakana}, {u"大文字", MenuUpperCase},    {u"小文字", MenuLowerCase},
    {u"", MenuSeparator1},       {u"Tab→ｶﾝﾏ", MenuTabToComma},  {u"ｶﾝﾏ→Tab", MenuCommaToTab},
    {u"", MenuSeparator2},       {u"空白削除", MenuTrimSpaces}, {u"削除", MenuClear},
};

namespace {

// Nearest whole number, ties to even, saturated to 32 bits.
std::int32_t RoundToInt32(double value) {
    const double rounded = value - std::remainder(value, 1.0);  // remainder() rounds ties to even
    return static_cast<std::int32_t>(std::clamp(rounded, double{std::numeric_limits<std::int32_t>::min()},
                                                double{std::numeric_limits<std::int32_t>::max()}));
}

std::int16_t ToPixel(double twipsSum, float twipsPerPixel) {
    std::int32_t divisor = RoundToInt32(twipsPerPixel);
    if (divisor == 0) {
        divisor = 1;  // a screen that reports less than half a twip per pixel
    }
    const std::int32_t quotient = RoundToInt32(twipsSum) / divisor;  // truncates toward zero
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(
        quotient, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

ScreenPoint SlotMenuPosition(const SlotMenuAnchor& anchor, double x, double y, TwipsPerPixel twips) {
    return ScreenPoint{ToPixel(anchor.formLeft + x + anchor.slotLeft, twips.x),
                       ToPixel(anchor.formTop + y + anchor.slotTop + anchor.slotHeight, twips.y)};
}

void ApplySlotMenuCommand(Slots& slots, std::int16_t index, SlotMenuCommand command) {
    // Commands 2..7 are the six conversions in menu order; the rest name their operation.
    static constexpr ConversionKind Conversions[] = {
        ConversionKind::NarrowConversion,    ConversionKind::WideConversion,
        ConversionKind::HiraganaConversion,  ConversionKind::KatakanaConversion,
        ConversionKind::UpperCaseConversion, ConversionKind::LowerCaseConversion,
    };
    if (command >= MenuNarrow && command <= MenuLowerCase) {
        slots.setText(index, ConvertText(slots.text(index), Conversions[command - MenuNarrow]));
        return;
    }
    std::u16string (*operation)(std::u16string_view) = nullptr;
    switch (command) {
        case MenuTabToComma:
            operation = TabToComma;
            break;
        case MenuCommaToTab:
            operation = CommaToTab;
            break;
        case MenuTrimSpaces:
            operation = TrimSpaces;
            break;
        case MenuClear:
            slots.setText(index, ClearSlot());
            return;
        default:
            return;  // separators, nothing chosen, unknown commands
    }
    slots.setText(index, operation(slots.text(index)));
}

void OnSlotMouseDown(AppContext& ctx, SlotMenu& menu, const SlotMenuAnchor& anchor, std::int16_t index,
                     MouseButton button, double x, double y) {
    if (button != MouseButton::Right) {
        return;
    }
    const TwipsPerPixel twips = ctx.platform.windows.twipsPerPixel().valueOr(TwipsPerPixel{});
    const SlotMenuCommand command = menu.showMenuAt(SlotMenuPosition(anchor, x, y, twips));
    ApplySlotMenuCommand(ctx.mainWindow, index, command);
}

}  // namespace varnel
