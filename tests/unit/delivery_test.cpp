#include <gtest/gtest.h>

#include "delivery/Delivery.h"
#include "fakes/FakePlatform.h"

namespace varnel {
namespace {

using Calls = std::vector<std::string>;
constexpr WindowHandle Target = 0x200;

struct Deliver : ::testing::Test {
    fake::World w;
    void SetUp() override {
        w.startValues();
        w.windows.existing = {Target, w.form.handle};
        w.windows.foreground = w.form.handle;
        w.state.TargetWindow = Target;
        w.mainState.LastClipboardText = u"last";
        w.form.texts[2] = u"slot three";
    }
    // The calls after the focus return has brought the target to the front.
    Calls afterFocusReturn() const {
        const auto& c = w.log.calls;
        auto it = std::find(c.begin(), c.end(), "foregroundWindow");
        return it == c.end() ? Calls{} : Calls(it + 1, c.end());
    }
};

TEST(LineEndRule, ReplacesCrLfLeftToRightWithoutOverlap) {
    struct Case {
        std::u16string in, out;
    };
    for (const auto& c :
         {Case{u"", u""}, Case{u"a\r\nb", u"a\rb"}, Case{u"\r\n\n", u"\r\n"}, Case{u"\r\r\n", u"\r\r"},
          Case{u"a\rb\nc", u"a\rb\nc"}, Case{u"\n\r", u"\n\r"}, Case{u"x\r\n\r\ny\r", u"x\r\ry\r"}}) {
        EXPECT_EQ(ApplyLineEndRule(c.in), c.out);
    }
}

TEST_F(Deliver, CopyPutsTheSlotTextOnTheClipboardAndNothingElse) {
    CopySlot(w.ctx, 3);
    EXPECT_EQ(w.log.calls, (Calls{"clipboard.clear", "clipboard.setText"}));
    EXPECT_EQ(w.clipboard.text, u"slot three");
    EXPECT_EQ(w.mainState.LastClipboardText, u"last");
}

TEST_F(Deliver, PasteDeliversTheSlotAndPutsLastClipboardTextBack) {
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.calls.front(), "windowExists 512");
    EXPECT_EQ(afterFocusReturn(),
              (Calls{"clipboard.clear", "clipboard.setText", "clipboard.offerForPaste", "keys.pasteKey",
                     "keys.wait", "clipboard.waitUntilPasted", "clipboard.endPaste", "clipboard.clear",
                     "clipboard.setText", "timer.on"}));
    EXPECT_EQ(w.clipboard.pasteTarget, Target);
    EXPECT_EQ(w.clipboard.history, (std::vector<std::u16string>{u"slot three", u"last"}));
    EXPECT_EQ(w.clipboard.text, u"last");
    EXPECT_EQ(w.windows.foreground, Target);
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, PasteIsAbandonedAndReportedWhenTheClipboardCannotBeTaken) {
    w.log.failCall("clipboard.setText", 1);
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_EQ(w.clipboard.text, u"last");
    EXPECT_EQ(w.log.count("form.reportClipboardFailure"), 1);
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, AClipboardThatCannotBeSetForACopyOrTheRestoreIsReported) {
    w.log.failCall("clipboard.setText", 1);
    CopySlot(w.ctx, 3);
    w.log.failCall("clipboard.setText", 3);  // the one that puts the earlier text back after the paste
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 1);
    EXPECT_EQ(w.log.count("form.reportClipboardFailure"), 2);
}

TEST_F(Deliver, APasteTheTargetDidNotFetchInTimeIsWrittenDownNotShown) {
    // A clipboard manager's fetch can hide the target's own: the wait running to its bound proves
    // nothing, so the delivery goes on as usual and the reason goes to the diagnostic line only.
    w.log.failAlways("clipboard.waitUntilPasted");
    w.clipboard.onCopyKey = [&] { w.clipboard.text = u"abc"; };
    SendSlot(w.ctx, 3);
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    ASSERT_EQ(w.form.diagnostics.size(), 2u);
    EXPECT_NE(w.form.diagnostics[0].find("injected failure: waitUntilPasted"), std::string::npos);
    EXPECT_TRUE(w.form.failures.empty());
    EXPECT_EQ(w.clipboard.text, u"last");
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, KeystrokesTypeTheSlotWithTheLineEndRuleAndLeaveTheClipboard) {
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[2] = u"一行目\r\n二行目\nLF";
    w.clipboard.text = u"untouched";
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed, (std::vector<std::u16string>{u"一行目\r二行目\nLF"}));
    EXPECT_EQ(afterFocusReturn(), (Calls{"keys.type", "keys.wait", "pump", "timer.on"}));
    EXPECT_EQ(w.clipboard.text, u"untouched");
}

TEST_F(Deliver, EmptySlotPastesTheEmptyTextAndTypesNothing) {
    w.form.texts[2].clear();
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 1);
    EXPECT_EQ(w.clipboard.history.front(), u"");
    w.state.SendMode = SendByKeystrokes;
    SendSlot(w.ctx, 3);
    EXPECT_TRUE(w.keyboard.typed.empty());
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, OtherSendModeBringsTheTargetForwardAndDeliversNothing) {
    w.state.SendMode = static_cast<SendMethod>(2);
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.windows.foreground, Target);
    EXPECT_EQ(afterFocusReturn(), (Calls{"timer.on"}));
}

TEST_F(Deliver, NoTargetDoesNothingAtAll) {
    for (WindowHandle target : {WindowHandle{0}, WindowHandle{0x999}}) {
        w.log.clear();
        w.state.TargetWindow = target;
        w.timer.enabled = true;
        SendSlot(w.ctx, 3);
        ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
        EXPECT_EQ(w.log.calls, (Calls{"windowExists " + std::to_string(target),
                                      "windowExists " + std::to_string(target)}));
    }
}

TEST_F(Deliver, FocusReturnGivesUpAfterTwoSecondsAndDeliversNothing) {
    w.windows.activationWorks = false;
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_EQ(w.log.count("clipboard.setText"), 0);
    EXPECT_EQ(w.log.count("pump"), 200);  // 10 ms a pass on the fake clock
    EXPECT_EQ(w.log.calls.back(), "timer.on");
    // Nothing reached the target: the user is told.
    ASSERT_EQ(w.form.failures.size(), 1u);
    EXPECT_NE(w.form.failures[0].find("did not come to the front"), std::string::npos);
}

TEST_F(Deliver, TargetVanishingDuringTheFocusReturnEndsIt) {
    w.windows.activationWorks = false;
    int passes = 0;
    w.windows.onForegroundQuery = [&] {
        if (++passes == 3) {
            w.windows.existing.erase(Target);
        }
    };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("pump"), 3);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_TRUE(w.timer.enabled);
    ASSERT_EQ(w.form.failures.size(), 1u);
    EXPECT_NE(w.form.failures[0].find("closed"), std::string::npos);
}

TEST_F(Deliver, FocusReturnFollowsATargetChangedInsideItsYield) {
    constexpr WindowHandle Other = 0x300;
    w.windows.existing.insert(Other);
    w.windows.activationWorks = false;
    w.pump.onPump = [&] {
        w.state.TargetWindow = Other;  // a dialog closed inside the yield
        w.windows.activationWorks = true;
    };
    w.state.SendMode = SendByKeystrokes;
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.windows.foreground, Other);
    EXPECT_EQ(w.keyboard.typed.size(), 1u);
}

TEST_F(Deliver, SendClickedInsideAYieldRunsAfterTheRunningOne) {
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[4] = u"slot five";
    w.pump.onPump = [&] {
        SendSlot(w.ctx, 5);  // the user clicks another send button during the focus return
        CopySlot(w.ctx, 5);  // and a copy button
    };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed, (std::vector<std::u16string>{u"slot three", u"slot five"}));
    EXPECT_EQ(w.clipboard.text, u"slot five");
    EXPECT_TRUE(w.timer.enabled);
    EXPECT_FALSE(w.mainState.Deliveries.running);
}

// The focus return pumps once; the pumps after it are the typing's slice boundaries.
TEST_F(Deliver, ClickDuringTypingStopsItAndTheClickedDeliveriesRunAfter) {
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[2] = u"0123456789";
    w.form.texts[4] = u"slot five";
    w.keyboard.sliceLength = 3;
    StopTyping(w.ctx);  // nothing is being typed: no effect
    w.pump.onPump = [&] {
        w.pump.onPump = [&] {
            StopTyping(w.ctx);   // a click on the window
            SendSlot(w.ctx, 5);  // which was on a send button
        };
    };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed, (std::vector<std::u16string>{u"012", u"slot five"}));
    EXPECT_FALSE(w.mainState.Deliveries.typing || w.mainState.Deliveries.stopTyping ||
                 w.mainState.Deliveries.running);
    EXPECT_TRUE(w.form.failures.empty());
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, ProgramEndStopsTypingDropsQueuedDeliveriesAndStartsNoMore) {
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[2] = u"0123456789";
    w.keyboard.sliceLength = 4;
    w.clipboard.text = u"untouched";
    w.pump.onPump = [&] {
        w.pump.onPump = [&] {
            SendSlot(w.ctx, 5);
            CopySlot(w.ctx, 5);
            ShutDownDeliveries(w.ctx);
        };
    };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed, (std::vector<std::u16string>{u"0123"}));
    EXPECT_EQ(w.clipboard.text, u"untouched");
    EXPECT_TRUE(w.timer.enabled);
    EXPECT_FALSE(w.mainState.Deliveries.running);
    EXPECT_TRUE(w.mainState.Deliveries.pending.empty());
    w.log.clear();
    SendSlot(w.ctx, 3);
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    EXPECT_TRUE(w.log.calls.empty());
}

TEST_F(Deliver, KeyFailuresReachTheUserAndTheTimerStillComesOn) {
    w.state.SendMode = SendByKeystrokes;
    w.log.failCall("keys.type", 1);
    SendSlot(w.ctx, 3);
    w.state.SendMode = SendByPaste;
    w.log.failCall("keys.pasteKey", 1);
    SendSlot(w.ctx, 3);
    w.log.failCall("keys.copyKey", 1);
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    w.state.SendMode = SendByKeystrokes;
    w.log.failCall("keys.wait", 2);  // typed, but the keys never went out
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.form.failures.size(), 4u);
    EXPECT_EQ(w.log.count("clipboard.waitUntilPasted"), 0);
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, TypingSwitchesAnInputMethodThatIsOnOffAndBackAfterSuccessFailureAndStop) {
    w.platform.inputMethod = &w.inputMethod;
    w.state.SendMode = SendByKeystrokes;
    SendSlot(w.ctx, 3);
    EXPECT_EQ(afterFocusReturn(), (Calls{"im.suspend", "keys.type", "keys.wait", "pump", "foregroundWindow",
                                         "im.restore", "timer.on"}));
    EXPECT_TRUE(w.inputMethod.on);

    w.log.failCall("keys.type", 2);
    SendSlot(w.ctx, 3);
    EXPECT_TRUE(w.inputMethod.on);
    EXPECT_EQ(w.form.failures.size(), 1u);  // the typing's own failure

    w.form.texts[2] = u"0123456789";
    w.keyboard.sliceLength = 3;
    w.pump.onPump = [&] { w.pump.onPump = [&] { StopTyping(w.ctx); }; };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed.back(), u"012");
    EXPECT_TRUE(w.inputMethod.on);

    // Off already: left alone. A restore that fails is reported.
    w.inputMethod.on = false;
    w.log.clear();
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.log.count("im.restore"), 3);  // the earlier three only
    w.inputMethod.on = true;
    w.log.failCall("im.restore", 4);
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.form.failures.size(), 2u);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
}

TEST_F(Deliver, TheInputMethodIsSwitchedBackInTheTargetAfterAClickOnThisWindowStoppedTheTyping) {
    w.platform.inputMethod = &w.inputMethod;
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[2] = u"0123456789";
    w.keyboard.sliceLength = 3;
    std::vector<WindowHandle> restoredIn;
    w.inputMethod.onRestore = [&] { restoredIn.push_back(w.windows.foreground); };
    auto clickHere = [&] {
        w.windows.foreground = w.form.handle;
        StopTyping(w.ctx);
    };
    w.pump.onPump = [&] { w.pump.onPump = clickHere; };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(w.keyboard.typed.back(), u"012");
    EXPECT_EQ(restoredIn, std::vector<WindowHandle>{Target});
    EXPECT_TRUE(w.form.failures.empty());

    // The target cannot get the focus back: its input method stays off, and the user is told.
    w.pump.onPump = [&] {
        w.pump.onPump = [&] {
            clickHere();
            w.windows.activationWorks = false;
        };
    };
    SendSlot(w.ctx, 3);
    EXPECT_EQ(restoredIn.size(), 1u);
    EXPECT_FALSE(w.inputMethod.on);
    EXPECT_EQ(w.form.failures.size(), 1u);
}

TEST_F(Deliver, AnInputMethodOfUnknownStateGetsThePastedTextAndTheUserIsToldOnce) {
    w.platform.inputMethod = &w.inputMethod;
    w.inputMethod.known = false;
    w.state.SendMode = SendByKeystrokes;
    w.form.texts[2] = u"a\r\nb";
    SendSlot(w.ctx, 3);
    EXPECT_TRUE(w.keyboard.typed.empty());
    EXPECT_EQ(w.clipboard.history, (std::vector<std::u16string>{u"a\r\nb", u"last"}));
    EXPECT_EQ(w.log.count("keys.pasteKey"), 1);
    w.clipboard.onCopyKey = [&] { w.clipboard.text = u"abc"; };
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    EXPECT_EQ(w.clipboard.history.back(), u"last");
    EXPECT_EQ(w.clipboard.history.end()[-2], u"ABC");
    EXPECT_EQ(w.log.count("keys.pasteKey"), 2);
    EXPECT_EQ(w.log.count("im.restore"), 0);
    EXPECT_EQ(w.log.count("form.reportPastedInsteadOfTyped"), 1);
    EXPECT_EQ(w.log.count("form.reportKeyFailure"), 0);
    EXPECT_EQ(w.form.failures.size(), 1u);
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, ConversionReplacesTheSelectionAndRestoresTheClipboard) {
    w.clipboard.onCopyKey = [&] { w.clipboard.text = u"abc def"; };
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);  // "A"
    EXPECT_EQ(afterFocusReturn(),
              (Calls{"clipboard.clear", "keys.copyKey", "keys.wait", "pump", "clipboard.waitForCopyFrom",
                     "clipboard.hasText", "clipboard.getText", "clipboard.clear", "clipboard.clear",
                     "clipboard.setText", "clipboard.offerForPaste", "keys.pasteKey", "keys.wait",
                     "clipboard.waitUntilPasted", "clipboard.endPaste", "clipboard.clear",
                     "clipboard.setText", "timer.on"}));
    EXPECT_EQ(w.clipboard.copyTarget, Target);
    EXPECT_EQ(w.clipboard.pasteTarget, Target);
    EXPECT_EQ(w.clipboard.history, (std::vector<std::u16string>{u"ABC DEF", u"last"}));
}

TEST_F(Deliver, ConversionInKeystrokeModeTypesWithOneReturnAtTheBreak) {
    w.state.SendMode = SendByKeystrokes;
    w.clipboard.onCopyKey = [&] { w.clipboard.text = u"ﾊﾟｿｺﾝ\r\nｶﾞ"; };
    ConvertTargetSelection(w.ctx, ConversionKind::WideConversion);  // "全"
    EXPECT_EQ(w.keyboard.typed, (std::vector<std::u16string>{u"パソコン\rガ"}));
    EXPECT_EQ(w.clipboard.text, u"last");
}

TEST_F(Deliver, ConversionWithoutASelectionLeavesTheClipboardEmpty) {
    w.clipboard.text = u"before";
    ConvertTargetSelection(w.ctx, ConversionKind::NarrowConversion);
    EXPECT_FALSE(w.clipboard.text.has_value());
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_TRUE(w.keyboard.typed.empty());
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, ConversionTreatsACopyThatNeverCameAsNoText) {
    w.clipboard.text = u"older text the clear could not remove";
    w.log.failAlways("clipboard.clear");
    w.log.failAlways("clipboard.waitForCopyFrom");
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_EQ(w.log.count("clipboard.getText"), 0);
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, ConversionSendsNoCopyKeyWhenTheClipboardCannotBeEmptied) {
    // The target owned the clipboard before: its old text would count as the copy of the selection.
    w.clipboard.text = u"older text of the target";
    w.log.failAlways("clipboard.clear");
    w.clipboard.onCopyKey = [] {};
    ConvertTargetSelection(w.ctx, ConversionKind::UpperCaseConversion);
    EXPECT_EQ(w.log.count("keys.copyKey"), 0);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_EQ(w.log.count("form.reportClipboardFailure"), 1);
    EXPECT_EQ(w.clipboard.text, u"older text of the target");
    EXPECT_TRUE(w.timer.enabled);
}

TEST_F(Deliver, ConversionWithAnotherSendModeStillRestores) {
    w.state.SendMode = static_cast<SendMethod>(2);
    w.clipboard.onCopyKey = [&] { w.clipboard.text = u"x"; };
    ConvertTargetSelection(w.ctx, ConversionKind::LowerCaseConversion);
    EXPECT_EQ(w.log.count("keys.pasteKey"), 0);
    EXPECT_EQ(w.clipboard.text, u"last");
}

TEST_F(Deliver, DialogCloseHandlerPaths) {
    // SavedTarget 0: nothing at all.
    w.state.SavedTarget = 0;
    w.state.TargetWindow = 0x777;
    ReturnFocusFromDialog(w.ctx);
    EXPECT_EQ(w.state.TargetWindow, 0x777u);
    EXPECT_TRUE(w.log.calls.empty());
    // A stale handle: TargetWindow takes it, nothing else happens.
    w.state.SavedTarget = 0x999;
    ReturnFocusFromDialog(w.ctx);
    EXPECT_EQ(w.state.TargetWindow, 0x999u);
    EXPECT_EQ(w.log.calls, (Calls{"windowExists 2457"}));
    // A live handle: focus return, then the timer on.
    w.log.clear();
    w.state.SavedTarget = Target;
    w.timer.enabled = true;
    ReturnFocusFromDialog(w.ctx);
    EXPECT_EQ(w.windows.foreground, Target);
    EXPECT_EQ(w.log.calls.front(), "windowExists 512");
    EXPECT_EQ(w.log.calls[1], "timer.off");
    EXPECT_EQ(w.log.calls.back(), "timer.on");
}

}  // namespace
}  // namespace varnel
