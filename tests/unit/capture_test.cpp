#include <gtest/gtest.h>

#include "capture/CaptureTick.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

struct Tick : ::testing::Test {
    fake::World w;
    void SetUp() override {
        w.startValues();
        w.windows.foreground = 0x100;
    }
    void copy(const std::u16string& text) { w.clipboard.text = text; }
    void tick() { OnCaptureTick(w.ctx); }
    std::u16string slot(int i) const { return w.form.texts[i - 1]; }
};

TEST_F(Tick, FirstTickTakesTextAlreadyOnTheClipboardIntoSlotOne) {
    copy(u"既にある");
    tick();
    EXPECT_EQ(slot(1), u"既にある");
    EXPECT_EQ(w.mainState.LastClipboardText, u"既にある");
    EXPECT_EQ(w.mainState.RotationCursor, 1);
    EXPECT_EQ(w.state.TargetWindow, 0x100u);
}

TEST_F(Tick, SameTextIsNotCapturedAgainEvenAfterANonTextClipboard) {
    copy(u"abc");
    tick();
    w.form.texts[0] = u"edited";
    tick();
    w.clipboard.text.reset();  // an image: no text
    tick();
    copy(u"abc");
    tick();
    EXPECT_EQ(slot(1), u"edited");
    EXPECT_EQ(w.mainState.RotationCursor, 1);
    EXPECT_EQ(w.mainState.LastClipboardText, u"abc");
    EXPECT_EQ(w.mainState.CapturedTexts, 1u);
}

TEST_F(Tick, TextsDifferingOnlyInCaseOrWidthAreBothCaptured) {
    w.state.RotationCount = 3;
    for (const auto* t : {u"abc", u"ABC", u"ａｂｃ"}) {
        copy(t);
        tick();
    }
    EXPECT_EQ(slot(1), u"abc");
    EXPECT_EQ(slot(2), u"ABC");
    EXPECT_EQ(slot(3), u"ａｂｃ");
}

TEST_F(Tick, RotatesOverTheCountAndWraps) {
    w.state.RotationCount = 3;
    for (int n = 1; n <= 4; ++n) {
        copy(u"t" + std::u16string(1, char16_t(u'0' + n)));
        tick();
    }
    EXPECT_EQ(slot(1), u"t4");
    EXPECT_EQ(slot(2), u"t2");
    EXPECT_EQ(slot(3), u"t3");
    EXPECT_EQ(w.mainState.RotationCursor, 1);
}

TEST_F(Tick, CursorAboveALoweredCountWrapsToSlotOne) {
    w.state.RotationCount = 5;
    w.mainState.RotationCursor = 4;
    w.state.RotationCount = 2;
    copy(u"x");
    tick();
    EXPECT_EQ(slot(1), u"x");
    EXPECT_EQ(w.mainState.RotationCursor, 1);
}

TEST_F(Tick, CountOfZeroOrBelowSendsEveryCaptureToSlotOne) {
    for (std::int16_t count : {0, -3}) {
        w.state.RotationCount = count;
        w.mainState.RotationCursor = 0;
        copy(u"a" + std::u16string(1, char16_t(u'0' - count)));
        tick();
        copy(u"b" + std::u16string(1, char16_t(u'0' - count)));
        tick();
        EXPECT_EQ(slot(1)[0], u'b') << count;
        EXPECT_EQ(w.mainState.RotationCursor, 1) << count;
        EXPECT_TRUE(slot(2).empty());
    }
}

TEST_F(Tick, CountAboveTenRunsPastTheSlotsAndComesBack) {
    w.state.RotationCount = 12;
    for (int n = 1; n <= 13; ++n) {
        copy(std::u16string(u"c") + char16_t(u'A' + n));
        tick();
    }
    for (int i = 2; i <= 10; ++i) {
        EXPECT_EQ(slot(i), std::u16string(u"c") + char16_t(u'A' + i)) << i;
    }
    // The 11th and 12th captures are in no slot, only in LastClipboardText; the 13th is in slot 1.
    EXPECT_EQ(slot(1), std::u16string(u"c") + char16_t(u'A' + 13));
    EXPECT_EQ(w.mainState.RotationCursor, 1);
}

TEST_F(Tick, OwnWindowInFrontKeepsTheTargetAndNoForegroundMeansNone) {
    w.windows.foreground = 0x200;
    tick();
    w.windows.foreground = w.form.handle;
    tick();
    EXPECT_EQ(w.state.TargetWindow, 0x200u);
    w.windows.foreground = 0;
    tick();
    EXPECT_EQ(w.state.TargetWindow, 0u);
}

TEST_F(Tick, OurOtherWindowsNeverBecomeTheTargetButTheTwoDialogsDo) {
    constexpr WindowHandle Notice = 0x300, Menu = 0x301, SettingsDialog = 0x400, EditDialog = 0x401;
    w.windows.own = {Notice, Menu, SettingsDialog, EditDialog};
    w.mainState.SettingsDialogWindow = SettingsDialog;
    w.mainState.EditDialogWindow = EditDialog;
    tick();
    for (const WindowHandle ours : {Notice, Menu}) {
        w.windows.foreground = ours;
        tick();
        EXPECT_EQ(w.state.TargetWindow, 0x100u) << ours;
    }
    for (const WindowHandle dialog : {SettingsDialog, EditDialog}) {
        w.windows.foreground = dialog;
        tick();
        EXPECT_EQ(w.state.TargetWindow, dialog);
    }
}

TEST_F(Tick, CaptureOffStillTracksTheTargetAndLeavesTheClipboardAlone) {
    w.state.CaptureEnabled = false;
    copy(u"ignored");
    tick();
    EXPECT_EQ(w.state.TargetWindow, 0x100u);
    EXPECT_TRUE(slot(1).empty());
    EXPECT_EQ(w.log.count("clipboard.hasText"), 0);
}

TEST_F(Tick, UnchangedClipboardIsNotReadAgainUntilItChanges) {
    w.clipboard.count = 7;
    copy(u"large text");
    tick();
    tick();
    tick();
    EXPECT_EQ(w.log.count("clipboard.getText"), 2);  // the two reads of the capture
    w.form.texts[0].clear();
    w.clipboard.count = 8;  // the same text again, from another owner
    tick();
    EXPECT_EQ(w.log.count("clipboard.getText"), 3);
    EXPECT_TRUE(slot(1).empty());
    w.clipboard.count = 9;
    copy(u"next");
    tick();
    EXPECT_EQ(slot(1), u"next");
    // A failed read is never taken for "unchanged".
    w.clipboard.count = 10;
    w.log.failCall("clipboard.getText", 6);
    copy(u"after failure");
    tick();
    tick();
    EXPECT_EQ(slot(1), u"after failure");
}

TEST_F(Tick, WriteDoesNotTouchTheSlotColour) {
    copy(u"x");
    tick();
    EXPECT_EQ(w.log.count("slot.background 1 capture"), 0);
}

TEST_F(Tick, UnknownForegroundKeepsTheTarget) {
    w.state.TargetWindow = 0x300;
    w.log.failAlways("foregroundWindow");
    copy(u"still captured");
    tick();
    EXPECT_EQ(w.state.TargetWindow, 0x300u);
    EXPECT_EQ(slot(1), u"still captured");
}

// The failure rule, one row per step that can fail.
TEST_F(Tick, FailedFormatTestStillReadsAndCaptures) {
    w.log.failCall("clipboard.hasText", 1);
    copy(u"read anyway");
    tick();
    EXPECT_EQ(slot(1), u"read anyway");
}

TEST_F(Tick, FailedFormatTestAndFailedReadCaptureNothing) {
    w.log.failCall("clipboard.hasText", 1);
    w.log.failCall("clipboard.getText", 1);
    copy(u"x");
    tick();
    EXPECT_TRUE(slot(1).empty());
    EXPECT_EQ(w.mainState.RotationCursor, 0);
}

TEST_F(Tick, FailedFirstReadEndsWithoutCapture) {
    w.log.failCall("clipboard.getText", 1);
    copy(u"x");
    tick();
    EXPECT_EQ(w.log.count("clipboard.getText"), 1);
    EXPECT_TRUE(slot(1).empty());
    tick();  // the next tick starts afresh
    EXPECT_EQ(slot(1), u"x");
}

TEST_F(Tick, FailedSecondReadAdvancesAndStoresTheOldText) {
    w.state.RotationCount = 3;
    copy(u"old");
    tick();
    w.log.failCall("clipboard.getText", 4);  // the second read of the second tick
    copy(u"new");
    tick();
    EXPECT_EQ(w.mainState.LastClipboardText, u"old");
    EXPECT_EQ(w.mainState.RotationCursor, 2);
    EXPECT_EQ(slot(2), u"old");
}

TEST_F(Tick, FailedIncrementAtTheLimitKeepsTheCursor) {
    w.state.RotationCount = 32767;
    w.mainState.RotationCursor = 32767;
    copy(u"x");
    tick();
    EXPECT_EQ(w.mainState.RotationCursor, 32767);
    EXPECT_EQ(w.mainState.LastClipboardText, u"x");
    for (int i = 1; i <= 10; ++i) {
        EXPECT_TRUE(slot(i).empty());
    }
}

TEST_F(Tick, FailedSlotWriteAboveTenKeepsTheTextAndTheCursor) {
    w.state.RotationCount = 12;
    w.mainState.RotationCursor = 10;
    copy(u"lost from view");
    tick();
    EXPECT_EQ(w.mainState.RotationCursor, 11);
    EXPECT_EQ(w.mainState.LastClipboardText, u"lost from view");
    EXPECT_EQ(w.log.count("slot.setText 11"), 1);
    EXPECT_EQ(w.mainState.CapturedTexts, 0u);  // counted are the texts stored into slots
}

// A reported clipboard change captures at once under the tick's rules, and never while the tick timer is off.
// The target and the capture count are shown once per change; a value that could not be shown is
// shown at the next call.
TEST_F(Tick, StateIsShownToOtherProgramsOncePerChangeAndRetriedAfterAFailure) {
    const auto tickAndShow = [this] {
        tick();
        ShowStateToOtherPrograms(w.ctx);
    };
    tickAndShow();
    EXPECT_EQ(w.log.count("showValue target 256"), 1);
    EXPECT_EQ(w.log.count("showValue captures 0"), 1);
    w.log.failCall("showValue captures 1", 1);
    copy(u"captured");
    tickAndShow();
    EXPECT_EQ(w.log.count("showValue captures 1"), 1);
    tickAndShow();
    tickAndShow();
    EXPECT_EQ(w.log.count("showValue captures 1"), 2);
    EXPECT_EQ(w.log.count("showValue target 256"), 1);
    w.windows.foreground = 0x200;
    tickAndShow();
    EXPECT_EQ(w.log.count("showValue target 512"), 1);
    EXPECT_EQ(w.log.count("showValue captures 1"), 2);
}

TEST_F(Tick, ClipboardChangeCapturesAtOnceOnlyWhileTheTimerIsOn) {
    w.state.RotationCount = 2;
    tick();
    w.windows.foreground = 0x200;
    copy(u"one");
    ClipboardChanged(w.ctx);
    copy(u"two");
    ClipboardChanged(w.ctx);
    ClipboardChanged(w.ctx);  // the same text again: nothing
    EXPECT_EQ(slot(1), u"one");
    EXPECT_EQ(slot(2), u"two");
    EXPECT_EQ(w.state.TargetWindow, 0x100u);  // tracking stays with the tick

    w.timer.enabled = false;  // a delivery is at work
    copy(u"during the delivery");
    ClipboardChanged(w.ctx);
    w.state.CaptureEnabled = false;
    w.timer.enabled = true;
    ClipboardChanged(w.ctx);
    EXPECT_EQ(w.mainState.LastClipboardText, u"two");
    EXPECT_EQ(w.mainState.RotationCursor, 2);
    EXPECT_EQ(w.mainState.CapturedTexts, 2u);
}

}  // namespace
}  // namespace varnel
