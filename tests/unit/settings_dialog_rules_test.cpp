#include <gtest/gtest.h>

#include "core/DisplayModes.h"
#include "editing/SettingsDialogRules.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

struct CountCase {
    std::u16string text;
    std::int16_t count;
};

TEST(RotationCountFromText, ReadsRoundsAndLimits) {
    const CountCase cases[] = {
        {u"7", 7},
        {u" 7", 7},
        {u"7abc", 7},
        {u"3.5", 4},
        {u"2.5", 2},
        {u"-2.5", -2},
        {u"0.5", 0},
        {u"1.5", 2},
        {u"abc", 0},
        {u"", 0},
        {u"+", 0},
        {u".", 0},
        {u"1.2.3", 1},
        {u"1..5", 1},
        {u".6", 1},
        {u"-3", -3},
        {u"+ 5", 5},
        {u"- 4", -4},
        {u"1 0", 10},
        {u"\t3\n", 3},
        {u"1\t\n0", 10},
        {u"2\r\n", 2},    // a carriage return ends the number
        {u"\r2", 0},      // ... and is not skipped before it
        {u"\u30002", 0},  // nor is an ideographic space
        {u"２", 0},       // full-width digits are no number
        {u"1e1", 10},
        {u"5e-1", 0},
        {u"15e-1", 2},
        {u"1e", 1},
        {u"3e-x", 3},
        {u"1 e 1", 10},
        {u"&H0A", 10},
        {u"&h7", 7},
        {u"&H7F", 10},  // 127, limited
        {u"&HG", 0},
        {u"&H", 0},
        {u"&O12", 10},
        {u"&O17", 10},  // 15, limited
        {u"&O8", 0},
        {u"& H 5", 5},
        {u"&X5", 0},
        {u"11", 10},
        {u"10.5", 10},
        {u"99999", 10},
        {u"32767", 10},
        {u"-32768", -32768},
        {u"-32768.5", -32768},
        {u"-32769", -32768},
        {u"-99999", -32768},
        {u"1e999", 10},
        {u"-1e999", -32768},
        {u"1e-999", 0},
        {u"0.0000000000000000000000000000000000001e-400", 0},
        {u"&HFFFFFFFFFFFFFFFFFFFFFFFF", 10},
        {std::u16string(400, u'9'), 10},
    };
    for (const auto& c : cases) {
        std::string shown(c.text.begin(), c.text.end());
        EXPECT_EQ(RotationCountFromText(c.text), c.count) << "text: " << shown;
    }
}

TEST(RotationCountText, LeadingBlankForZeroAndMore) {
    EXPECT_EQ(RotationCountText(1), u" 1");
    EXPECT_EQ(RotationCountText(10), u" 10");
    EXPECT_EQ(RotationCountText(0), u" 0");
    EXPECT_EQ(RotationCountText(-3), u"-3");
    EXPECT_EQ(RotationCountText(-32768), u"-32768");
    // What FillSettingsDialog writes reads back as the same count.
    for (std::int16_t n : {-32768, -5, 0, 1, 7, 10}) {
        EXPECT_EQ(RotationCountFromText(RotationCountText(n)), n);
    }
}

TEST(KeepOnScreen, MovesTheLeastDistanceOntoTheArea) {
    const FrameMargins frame{4, 23, 4, 4};
    const PixelRect design{331, 123, 290, 421};
    struct Case {
        PixelRect area;
        int left, top;
    } cases[] = {
        {{0, 0, 1024, 768}, 331, 123},  // fits: stays at the design position
        {{0, 0, 640, 480}, 331, 55},    // only the bottom sticks out
        {{0, 0, 500, 400}, 206, 23},    // too high: the caption stays on the screen
        {{0, 0, 200, 300}, 4, 23},      // too small both ways: top-left
        {{400, 200, 800, 600}, 404, 223},
    };
    for (const auto& c : cases) {
        const PixelRect r = KeepOnScreen(design, frame, c.area);
        EXPECT_EQ(r.left, c.left);
        EXPECT_EQ(r.top, c.top);
        EXPECT_EQ(r.width, 290);
        EXPECT_EQ(r.height, 421);
    }
}

// The dialog's controls, recording the unload in the world's log.
class FakeControls : public settings::Controls {
  public:
    explicit FakeControls(fake::CallLog& log) : log_(log) {}
    bool sendModeSelected(SendMethod mode) const override { return mode == opt1; }
    void selectSendMode(SendMethod mode) override { opt1 = mode; }
    bool displaySizeSelected(DisplaySize size) const override { return static_cast<int>(size) == opt2; }
    void selectDisplaySize(DisplaySize size) override { opt2 = static_cast<int>(size); }
    bool captureChecked() const override { return check == 1; }
    void setCaptureChecked(bool v) override { check = v ? 1 : 0; }
    std::u16string rotationCountBoxText() const override { return combo; }
    void setRotationCountBoxText(const std::u16string& t) override { combo = t; }
    void unload() override { log_.record("dialog.unload"); }

    int opt1 = -1;
    int opt2 = -1;
    std::int16_t check = -1;
    std::u16string combo = u"?";

  private:
    fake::CallLog& log_;
};

struct Settings : ::testing::Test {
    fake::World w;
    FakeControls controls{w.log};
    SettingsDialogHandlers handlers{w.ctx, controls};
    void SetUp() override {
        w.startValues();
        w.form.onResize = [this] { FitSlotsToWidth(w.form); };
    }
    std::vector<std::string> backgroundsAndUnload() const {
        std::vector<std::string> out;
        for (const auto& call : w.log.calls) {
            if (call.rfind("slot.background", 0) == 0 || call == "dialog.unload") {
                out.push_back(call);
            }
        }
        return out;
    }
};

TEST_F(Settings, FormLoadShowsTheState) {
    handlers.FillSettingsDialog();
    EXPECT_EQ(controls.opt1, 0);
    EXPECT_EQ(controls.opt2, 0);
    EXPECT_EQ(controls.check, 1);
    EXPECT_EQ(controls.combo, u" 1");

    w.state.SendMode = SendByKeystrokes;
    w.state.DisplayMode = DisplaySize::TenRows;
    w.state.CaptureEnabled = false;  // as after a slot file
    w.state.RotationCount = -4;
    handlers.FillSettingsDialog();
    EXPECT_EQ(controls.opt1, 1);
    EXPECT_EQ(controls.opt2, 2);
    EXPECT_EQ(controls.check, 0);
    EXPECT_EQ(controls.combo, u"-4");
    EXPECT_TRUE(w.log.calls.empty());
}

TEST_F(Settings, OkAppliesEveryStepInOrder) {
    controls.opt1 = 1;
    controls.opt2 = 1;
    controls.check = 1;
    controls.combo = u" 3";
    w.form.outerWidth = 5000;
    w.state.TargetWindow = 0x700;
    w.state.SavedTarget = 0x600;
    w.form.onResize = [this] {
        // The size change sees the options applied and nothing after them yet.
        EXPECT_EQ(w.state.SendMode, SendByKeystrokes);
        EXPECT_EQ(w.state.DisplayMode, DisplaySize::ButtonsOnly);
        EXPECT_EQ(w.state.RotationCount, 1);
        EXPECT_TRUE(w.log.calls.size() < 3);
    };
    handlers.ApplySettings();

    EXPECT_EQ(w.state.SendMode, SendByKeystrokes);
    EXPECT_EQ(w.state.DisplayMode, DisplaySize::ButtonsOnly);
    EXPECT_TRUE(w.state.CaptureEnabled);
    EXPECT_EQ(w.state.RotationCount, 3);
    EXPECT_EQ(w.form.outerHeightTwips(), 885);
    EXPECT_EQ(w.form.outerWidthTwips(), 3840);
    std::vector<std::string> expected{"form.setHeight 885", "form.setWidth 3840"};
    for (int i = 1; i <= 10; ++i) {
        expected.push_back("slot.background " + std::to_string(i) + " window");
    }
    for (int i = 1; i <= 3; ++i) {
        expected.push_back("slot.background " + std::to_string(i) + " capture");
    }
    expected.push_back("dialog.unload");
    EXPECT_EQ(w.log.calls, expected);
    // The close handling belongs to the unload, not to OK itself.
    EXPECT_EQ(w.state.TargetWindow, 0x700u);
}

TEST_F(Settings, OkResizesEvenWithoutAChange) {
    handlers.FillSettingsDialog();
    for (int round = 0; round < 2; ++round) {
        w.form.outerWidth = 4400;
        w.form.outerHeight = 2000;
        handlers.ApplySettings();
        EXPECT_EQ(w.form.outerWidthTwips(), 3840);
        EXPECT_EQ(w.form.outerHeightTwips(), 3375);
    }
    EXPECT_EQ(w.log.count("form.setHeight 3375"), 2);
    EXPECT_EQ(w.state.RotationCount, 1);
    EXPECT_TRUE(w.state.CaptureEnabled);
}

TEST_F(Settings, OkColoursTheRotationSlotsOnlyWhileCapturing) {
    struct Case {
        std::u16string combo;
        std::int16_t check;
        int painted;
    } cases[] = {
        {u"0", 1, 0}, {u"-2", 1, 0}, {u"3", 1, 3}, {u"10", 1, 10}, {u"25", 1, 10}, {u"5", 0, 0},
    };
    for (const auto& c : cases) {
        w.log.clear();
        controls.combo = c.combo;
        controls.check = c.check;
        handlers.ApplySettings();
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(w.form.backgrounds[i], i < c.painted ? SlotBackground::Capture : SlotBackground::Window)
                << "slot " << i + 1;
        }
        const auto calls = backgroundsAndUnload();
        EXPECT_EQ(calls.size(), 10u + static_cast<std::size_t>(c.painted) + 1u);
        EXPECT_EQ(calls.back(), "dialog.unload");
        EXPECT_EQ(w.state.CaptureEnabled, c.check == 1);
    }
    // Stored as read: zero and negative counts stay.
    controls.combo = u"-2";
    handlers.ApplySettings();
    EXPECT_EQ(w.state.RotationCount, -2);
}

TEST_F(Settings, OkWithoutASelectedOptionKeepsTheSetting) {
    w.state.SendMode = SendByKeystrokes;
    w.state.DisplayMode = DisplaySize::TenRows;
    controls.opt1 = -1;
    controls.opt2 = -1;
    controls.check = 0;
    handlers.ApplySettings();
    EXPECT_EQ(w.state.SendMode, SendByKeystrokes);
    EXPECT_EQ(w.state.DisplayMode, DisplaySize::TenRows);
}

TEST_F(Settings, ClearAllEmptiesTheSlotsAndNothingElse) {
    for (int i = 0; i < 10; ++i) {
        w.form.texts[i] = u"slot " + std::u16string(1, char16_t(u'0' + i));
    }
    w.form.backgrounds[0] = SlotBackground::Capture;
    w.mainState.LastClipboardText = u"last";
    w.mainState.RotationCursor = 4;
    w.state.RotationCount = 5;
    handlers.ClearAllSlots();
    for (const auto& text : w.form.texts) {
        EXPECT_TRUE(text.empty());
    }
    EXPECT_EQ(w.log.calls.size(), 10u);
    EXPECT_EQ(w.form.backgrounds[0], SlotBackground::Capture);
    EXPECT_EQ(w.mainState.LastClipboardText, u"last");
    EXPECT_EQ(w.mainState.RotationCursor, 4);
    EXPECT_EQ(w.state.RotationCount, 5);
}

// The dialog as the settings button sees it.
class FakeDialog : public settings::Dialog {
  public:
    FakeDialog(fake::CallLog& log, AppState& state) : log_(log), state_(state) {}
    bool isLoaded() const override { return loaded; }
    void load() override {
        log_.record("dialog.load");
        savedAtLoad = state_.SavedTarget;
        loaded = true;
    }
    void show() override { log_.record("dialog.show"); }
    WindowHandle nativeHandle() override { return 0x800; }
    bool loaded = false;
    WindowHandle savedAtLoad = 0;

  private:
    fake::CallLog& log_;
    AppState& state_;
};

TEST_F(Settings, SettingsButtonOpensTopmostThenOnlyBringsToTheFront) {
    FakeDialog dialog(w.log, w.state);
    w.windows.existing = {0x800};
    w.state.TargetWindow = 0x600;
    OpenSettingsDialog(w.ctx, dialog);
    EXPECT_EQ(dialog.savedAtLoad, 0x600u);
    EXPECT_EQ(w.mainState.SettingsDialogWindow, 0x800u);  // the tick may make it the target
    EXPECT_EQ(w.log.calls, (std::vector<std::string>{"dialog.load", "dialog.show", "setZOrder 2048 1"}));

    w.log.clear();
    w.state.TargetWindow = 0x800;  // the dialog was the last foreground window: not a place to return to
    OpenSettingsDialog(w.ctx, dialog);
    EXPECT_EQ(w.state.SavedTarget, 0x600u);
    EXPECT_EQ(w.log.calls, (std::vector<std::string>{"dialog.show", "makeForeground 2048"}));
}

}  // namespace
}  // namespace varnel
