#include <gtest/gtest.h>

#include "core/DisplayModes.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

struct Display : ::testing::Test {
    fake::World w;
    void SetUp() override {
        w.startValues();
        w.form.onResize = [this] { FitSlotsToWidth(w.form); };
    }
};

TEST_F(Display, DoubleClicksCycleThroughThePresetsAtWidth3840) {
    const double heights[] = {885, 5775, 3375};
    for (double h : heights) {
        w.form.outerWidth = 5000;  // the user had widened it
        CycleDisplayMode(w.ctx);
        EXPECT_EQ(w.form.outerHeightTwips(), h);
        EXPECT_EQ(w.form.outerWidthTwips(), 3840);
    }
    EXPECT_EQ(w.state.DisplayMode, DisplaySize::FiveRows);
}

TEST_F(Display, HeightIsSetBeforeWidthAndOtherModesChangeNothing) {
    w.state.DisplayMode = DisplaySize::TenRows;
    WindowSizeChange(w.ctx);
    const std::vector<std::string> sizes(w.log.calls.begin(), w.log.calls.end());
    EXPECT_EQ(sizes, (std::vector<std::string>{"form.setHeight 5775", "form.setWidth 3840"}));
    w.log.clear();
    for (std::int16_t mode : {3, -1, 100}) {
        w.state.DisplayMode = static_cast<DisplaySize>(mode);
        WindowSizeChange(w.ctx);
    }
    EXPECT_TRUE(w.log.calls.empty());
}

TEST_F(Display, ResizeKeepsTheMinimumWidthAndStretchesEverySlot) {
    w.form.outerWidth = 900;
    FitSlotsToWidth(w.form);
    EXPECT_EQ(w.form.outerWidthTwips(), 1800);
    for (double width : w.form.slotWidths) {
        EXPECT_EQ(width, 615);
    }
    w.form.outerWidth = 5000.5;
    FitSlotsToWidth(w.form);
    for (double width : w.form.slotWidths) {
        EXPECT_EQ(width, 3815.5);  // the same for slotEdit(5) as for the others
    }
}

TEST_F(Display, MinimizedWindowIsLeftAlone) {
    w.form.minimized = true;
    w.form.outerWidth = 200;
    FitSlotsToWidth(w.form);
    EXPECT_EQ(w.form.outerWidthTwips(), 200);
    EXPECT_EQ(w.form.slotWidths[4], 2685);
}

TEST_F(Display, ZOrderButtonsStoreTheirIndexAndApplyIt) {
    SelectZOrder(w.ctx, ZOrderMode::Bottom);
    EXPECT_EQ(w.mainState.ZOrderMode, ZOrderMode::Bottom);
    EXPECT_EQ(w.windows.zOrder[w.form.handle], ZOrderMode::Bottom);
    SelectZOrder(w.ctx, ZOrderMode::Topmost);
    EXPECT_EQ(w.mainState.ZOrderMode, ZOrderMode::Topmost);
    EXPECT_EQ(w.windows.zOrder[w.form.handle], ZOrderMode::Topmost);
}

}  // namespace
}  // namespace varnel
