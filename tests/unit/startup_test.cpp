#include <gtest/gtest.h>

#include "core/Startup.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

TEST(Docking, FollowsTheRuleUpToTheSixteenBitLimit) {
    EXPECT_FALSE(DockedLeftTwips(800).has_value());
    EXPECT_EQ(DockedLeftTwips(640), 5505);
    EXPECT_EQ(DockedLeftTwips(1024), 11265);
    EXPECT_EQ(DockedLeftTwips(1920), 24705);
    EXPECT_EQ(DockedLeftTwips(2457), 32760);
}

TEST(Docking, WideScreensAreComputedWithoutOverflowAndStayOnScreen) {
    for (int width : {2458, 3840, 7680, 20000}) {
        const auto left = DockedLeftTwips(width);
        ASSERT_TRUE(left.has_value());
        EXPECT_EQ(*left, 15 * width - 4095) << width;
        EXPECT_LE(*left + DesignWindowWidth, 15 * width) << width;
    }
    // A screen too narrow for the rule keeps the window's left edge on the screen.
    EXPECT_EQ(DockedLeftTwips(200), 0);
}

TEST(Docking, DocksAtTheRightEdgeOfThePrimaryMonitorWhereverItStands) {
    // Right of an 800-pixel monitor, 1024 wide: the right edge of the primary, not of the desktop.
    EXPECT_EQ(DockedLeftTwips(MonitorArea{800, 0, 1024, 768}), 800 * 15 + 11265);
    // A primary monitor of the reference width away from the desktop's corner keeps the layout's
    // place on that monitor.
    EXPECT_EQ(DockedLeftTwips(MonitorArea{1920, 200, 800, 600}), 1920 * 15 + 7905);
    EXPECT_FALSE(DockedLeftTwips(MonitorArea{0, 0, 800, 600}).has_value());
    // Left of the desktop's origin, narrower than the window: its left edge on the monitor.
    EXPECT_EQ(DockedLeftTwips(MonitorArea{-200, 0, 200, 600}), -200 * 15);
    for (const MonitorArea monitor : {MonitorArea{-1280, 0, 1280, 1024}, MonitorArea{3840, 0, 3840, 2160}}) {
        const auto left = DockedLeftTwips(monitor);
        ASSERT_TRUE(left.has_value());
        EXPECT_EQ(*left + DesignWindowWidth, (monitor.left + monitor.width) * 15 - 255);
    }

    fake::World w;
    w.windows.monitor = {1024, 0, 1280, 1024};
    EXPECT_TRUE(LoadMainWindow(w.ctx).ok());
    EXPECT_EQ(w.log.count("form.setLeft " + std::to_string(1024 * 15 + 15 * 1280 - 4095)), 1);
}

TEST(SetZOrder, PassesTheThreeModesAndRefusesOthersWithoutACall) {
    fake::World w;
    EXPECT_TRUE(SetZOrder(w.windows, 42, ZOrderMode::Topmost));
    EXPECT_TRUE(SetZOrder(w.windows, 42, ZOrderMode::Bottom));
    EXPECT_TRUE(SetZOrder(w.windows, 42, ZOrderMode::NotTopmost));
    EXPECT_EQ(w.log.calls, (std::vector<std::string>{"setZOrder 42 1", "setZOrder 42 2", "setZOrder 42 0"}));
    w.log.clear();
    EXPECT_FALSE(SetZOrder(w.windows, 42, static_cast<ZOrderMode>(3)));
    EXPECT_FALSE(SetZOrder(w.windows, 42, static_cast<ZOrderMode>(-1)));
    EXPECT_TRUE(w.log.calls.empty());
    w.log.failAlways("setZOrder 42 1");
    EXPECT_FALSE(SetZOrder(w.windows, 42, ZOrderMode::Topmost));
}

TEST(LoadMainWindow, RunsTheStepsInOrderWithTheStartValues) {
    fake::World w;
    w.state.SendMode = SendByKeystrokes;  // whatever was there before, start-up sets the start values
    w.state.RotationCount = 7;
    w.mainState.RotationCursor = 3;
    w.windows.monitor = {0, 0, 1024, 768};
    EXPECT_TRUE(LoadMainWindow(w.ctx).ok());

    EXPECT_EQ(w.log.calls,
              (std::vector<std::string>{"primaryMonitorArea", "form.setLeft 11265", "form.nativeHandle",
                                        "files.argumentString", "files.match ", "form.show",
                                        "setZOrder 5242881 1", "slot.background 1 capture"}));
    EXPECT_EQ(w.mainState.OwnWindow, w.form.handle);
    EXPECT_EQ(w.state.SendMode, 0);
    EXPECT_TRUE(w.state.CaptureEnabled);
    EXPECT_EQ(w.state.RotationCount, 1);
    EXPECT_EQ(w.state.DisplayMode, DisplaySize::FiveRows);
    EXPECT_EQ(w.mainState.RotationCursor, 0);
    EXPECT_EQ(w.mainState.ZOrderMode, ZOrderMode::Topmost);
    EXPECT_EQ(w.state.TargetWindow, 0u);
    EXPECT_TRUE(w.mainState.LastClipboardText.empty());
}

TEST(LoadMainWindow, LeavesTheLayoutPositionOnTheReferenceScreenOrWhenTheWidthIsUnknown) {
    for (bool fail : {false, true}) {
        fake::World w;
        w.windows.monitor = {0, 0, 800, 600};
        if (fail) {
            w.log.failAlways("primaryMonitorArea");
        }
        EXPECT_TRUE(LoadMainWindow(w.ctx).ok());
        EXPECT_EQ(w.form.left, 7905);
        EXPECT_EQ(w.log.count("form.setLeft 7905"), 0);
        EXPECT_TRUE(w.form.shown);
    }
}

TEST(PaintCaptureSlots, ColoursTheRotationWhileCaptureIsOn) {
    struct Case {
        bool capture;
        std::int16_t count;
        int coloured;
    };
    for (auto c : {Case{true, 1, 1}, Case{true, 3, 3}, Case{true, 10, 10}, Case{true, 12, 10},
                   Case{true, 0, 0}, Case{true, -4, 0}, Case{false, 5, 0}}) {
        fake::World w;
        w.state.CaptureEnabled = c.capture;
        w.state.RotationCount = c.count;
        PaintCaptureSlots(w.state, w.form);
        int coloured = 0;
        for (int i = 0; i < 10; ++i) {
            if (w.form.backgrounds[i] == SlotBackground::Capture) {
                EXPECT_EQ(i, coloured) << "coloured slots start at slot 1";
                ++coloured;
            }
        }
        EXPECT_EQ(coloured, c.coloured) << c.capture << " " << c.count;
    }
}

TEST(UnloadSecondaryWindows, UnloadsMenuThenSettingsThenEdit) {
    fake::World w;
    UnloadSecondaryWindows(w.forms);
    EXPECT_EQ(w.log.calls, (std::vector<std::string>{"unload menu", "unload settings", "unload edit"}));
}

}  // namespace
}  // namespace varnel
