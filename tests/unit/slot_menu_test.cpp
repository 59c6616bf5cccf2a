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
             Case{0, 14.5, 15, 0},          // 14.5 -> 14 (even), 14 / 15 = 0
             Case{0, 15.5, 15, 1},          // 15.5 -> 16, 16 / 15 = 1
             Case{0, 29.5, 15, 2},          // 29.5 -> 30 (even), 30 / 15 = 2
             Case{-100, 0, 15, -6},         // -100 / 15 = -6.67 truncates to -6, not -7
             Case{-2000, 1090.5, 15, -60},  // -909.5 -> -910 (even), -910 / 15 = -60.67 -> -60
             Case{0, 75, 7.5f, 9},          // 7.5 twips per pixel rounds to 8: 75 / 8 = 9.375
             Case{0, 85, 8.5f, 10},         // 8.5 rounds to 8 (even): 85 / 8 = 10.6
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
    std::int16_t answer = 0;
    std::vector<std::pair<int, int>> shownAt;
    std::function<void()> whileOpen;
    std::int16_t showMenuAt(ScreenPoint at) override {
        shownAt.emplace_back(at.x, at.y);
        if (whileOpen) {
            whileOpen();
        }
        return answer;
    }
};

TEST(SlotMenuCommands, EachCommandChangesOnlyItsSlot) {
    struct Case {
        std::int16_t command;
        std::u16string before, after;
    };
    for (const auto& c : {
             Case{2, u"ＡＢＣ　ガ", u"ABC ｶﾞ"},
             Case{3, u"ﾊﾟｿｺﾝ 1", u"パソコン　１"},
             Case{4, u"カタカナー", u"かたかなー"},
             Case{5, u"ひらがな", u"ヒラガナ"},
             Case{6, u"abcａｂｃ", u"ABCＡＢＣ"},
             Case{7, u"ABC", u"abc"},
             Case{9, u"a\tb\r\nc\td", u"a,b\r\nc,d"},
             Case{10, u"a,b，c、d", u"a\tb，c、d"},
             Case{12, u"  x y  ", u"x y"},
             Case{12, u"   ", u""},
             Case{13, u"anything", u""},
             Case{0, u" keep ", u" keep "},
             Case{8, u" keep ", u" keep "},
             Case{11, u" keep ", u" keep "},
             Case{1, u" keep ", u" keep "},
             Case{14, u" keep ", u" keep "},
             Case{-1, u" keep ", u" keep "},
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
    for (std::int16_t button : {1, 4, 5}) {
        OnSlotMouseDown(w.ctx, menu, anchor, 1, button, 0, 300, 100);
    }
    EXPECT_TRUE(menu.shownAt.empty());
    EXPECT_EQ(w.form.texts[0], u"x");
    OnSlotMouseDown(w.ctx, menu, anchor, 1, 2, /*shift*/ 1, 300, 100);
    EXPECT_EQ(menu.shownAt, (std::vector<std::pair<int, int>>{{750, 271}}));
    EXPECT_EQ(w.form.texts[0], u"");
}

TEST(SlotMenuMouseDown, ReadsTheSlotAfterTheMenuCloses) {
    fake::World w;
    FakeMenu menu;
    menu.answer = MenuUpperCase;
    menu.whileOpen = [&] { w.form.texts[1] = u"captured meanwhile"; };
    OnSlotMouseDown(w.ctx, menu, {}, 2, 2, 0, 0, 0);
    EXPECT_EQ(w.form.texts[1], u"CAPTURED MEANWHILE");
}

}  // namespace
}  // namespace varnel
