#include <gtest/gtest.h>

#include "editing/SlotMenu.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

TEST(SlotMenuPosition, OpensAtTheWindowCornerPlusPressPlusSlot) {
    const SlotMenuAnchor anchor{10000, 3000, 960, 600, 375};
    const ScreenPoint p = SlotMenuPosition(anchor, 300, 100, {15, 15});
    EXPECT_EQ(p.x, 750);  // 11260 / 15 = 750.67
    EXPECT_EQ(p.y, 271);  // 4075 / 15 = 271.67
}

TEST(SlotMenuPosition, RoundsTiesToEvenAndTruncatesTowardZero) {
    struct Case {
        double formLeft, x;
        float twips;
        std::int16_t expected;
    };
    for (const auto& c : {
             Case{NoCommand, 14.5, 15, 0},  // 14.5 -> 14 (even), 14 / 15 = 0
             Case{NoCommand, 15.5, 15, 1},  // 15.5 -> 16, 16 / 15 = 1
             Case{NoCommand, 29.5, 15, 2},  // 29.5 -> 30 (even), 30 / 15 = 2
             Case{static_cast<SlotMenuCommand>(-100), 0, 15,
                  -6},  // -100 / 15 = -6.67 truncates to -6, not -7
             Case{static_cast<SlotMenuCommand>(-2000), 1090.5, 15,
                  -60},                      // -909.5 -> -910 (even), -910 / 15 = -60.67 -> -60
             Case{NoCommand, 75, 7.5f, 9},   // 7.5 twips per pixel rounds to 8: 75 / 8 = 9.375
             Case{NoCommand, 85, 8.5f, 10},  // 8.5 rounds to 8 (even): 85 / 8 = 10.6
         }) {
        const SlotMenuAnchor anchor{c.formLeft, 0, 0, 0, 0};
        EXPECT_EQ(SlotMenuPosition(anchor, c.x, 0, {c.twips, 15}).x, c.expected)
            << c.formLeft << " " << c.x << " " << c.twips;
    }
}

TEST(SlotMenuPosition, StaysInSixteenBitsAndSurvivesAZeroScale) {
    const SlotMenuAnchor far{1e9, -1e9, 0, 0, 0};
    const ScreenPoint p = SlotMenuPosition(far, 0, 0, {0.1f, 15});
    EXPECT_EQ(p.x, 32767);
    EXPECT_EQ(p.y, -32768);
}

struct FakeMenu : SlotMenu {
    SlotMenuCommand answer = NoCommand;
    std::vector<std::pair<int, int>> shownAt;
    std::function<void()> whileOpen;
    SlotMenuCommand showMenuAt(ScreenPoint at) override {
        shownAt.emplace_back(at.x, at.y);
        if (whileOpen) {
            whileOpen();
        }
        return answer;
    }
};

TEST(SlotMenuCommands, EachCommandChangesOnlyItsSlot) {
    struct Case {
        SlotMenuCommand command;
        std::u16string before, after;
    };
    for (const auto& c : {
             Case{MenuNarrow, u"ＡＢＣ　ガ", u"ABC ｶﾞ"},
             Case{MenuWide, u"ﾊﾟｿｺﾝ 1", u"パソコン　１"},
             Case{MenuHiragana, u"カタカナー", u"かたかなー"},
             Case{MenuKatakana, u"ひらがな", u"ヒラガナ"},
             Case{MenuUpperCase, u"abcａｂｃ", u"ABCＡＢＣ"},
             Case{MenuLowerCase, u"ABC", u"abc"},
             Case{MenuTabToComma, u"a\tb\r\nc\td", u"a,b\r\nc,d"},
             Case{MenuCommaToTab, u"a,b，c、d", u"a\tb，c、d"},
             Case{MenuTrimSpaces, u"  x y  ", u"x y"},
             Case{MenuTrimSpaces, u"   ", u""},
             Case{MenuClear, u"anything", u""},
             Case{NoCommand, u" keep ", u" keep "},
             Case{MenuSeparator1, u" keep ", u" keep "},
             Case{MenuSeparator2, u" keep ", u" keep "},
             Case{static_cast<SlotMenuCommand>(1), u" keep ", u" keep "},
             Case{static_cast<SlotMenuCommand>(14), u" keep ", u" keep "},
             Case{static_cast<SlotMenuCommand>(-1), u" keep ", u" keep "},
         }) {
        fake::World w;
        w.form.texts[2] = c.before;
        w.form.texts[3] = u"other";
        w.clipboard.text = u"clip";
        w.mainState.LastClipboardText = u"last";
        ApplySlotMenuCommand(w.form, 3, c.command);
        EXPECT_EQ(w.form.texts[2], c.after) << c.command;
        EXPECT_EQ(w.form.texts[3], u"other");
        EXPECT_EQ(w.clipboard.text, u"clip");
        EXPECT_EQ(w.mainState.LastClipboardText, u"last");
    }
}

TEST(SlotMenuMouseDown, OnlyTheRightButtonOpensTheMenu) {
    fake::World w;
    FakeMenu menu;
    menu.answer = MenuClear;
    w.form.texts[0] = u"x";
    const SlotMenuAnchor anchor{10000, 3000, 960, 600, 375};
    for (MouseButton button : {MouseButton::Left, MouseButton::Middle}) {
        OnSlotMouseDown(w.ctx, menu, anchor, 1, button, 300, 100);
    }
    EXPECT_TRUE(menu.shownAt.empty());
    EXPECT_EQ(w.form.texts[0], u"x");
    OnSlotMouseDown(w.ctx, menu, anchor, 1, MouseButton::Right, 300, 100);
    EXPECT_EQ(menu.shownAt, (std::vector<std::pair<int, int>>{{750, 271}}));
    EXPECT_EQ(w.form.texts[0], u"");
}

TEST(SlotMenuMouseDown, ReadsTheSlotAfterTheMenuCloses) {
    fake::World w;
    FakeMenu menu;
    menu.answer = MenuUpperCase;
    menu.whileOpen = [&] { w.form.texts[1] = u"captured meanwhile"; };
    OnSlotMouseDown(w.ctx, menu, {}, 2, MouseButton::Right, 0, 0);
    EXPECT_EQ(w.form.texts[1], u"CAPTURED MEANWHILE");
}

}  // namespace
}  // namespace varnel
