#include "delivery/Delivery.h"

#include <string>
#include <utility>

#include "text/ConvertText.h"

namespace varnel {

namespace {

// Runs a delivery now, or after the one that is running when it was clicked inside that one's yield.
template <class F>
void RunDelivery(AppContext& ctx, F&& delivery) {
    DeliveryQueue& queue = ctx.mainState.Deliveries;
    if (queue.shuttingDown) {
        return;
    }
    if (queue.running) {
        queue.pending.emplace_back(std::forward<F>(delivery));
        return;
    }
    queue.running = true;
    delivery();
    while (!queue.pending.empty() && !queue.shuttingDown) {
        auto next = std::move(queue.pending.front());
        queue.pending.pop_front();
        next();
    }
    queue.pending.clear();
    queue.running = false;
}

void ReportKeyFailure(AppContext& ctx, const Status& status) {
    if (!status && !ctx.mainState.Deliveries.shuttingDown) {
        ctx.mainWindow.reportKeyFailure(status.error());
    }
}

void ReportClipboardFailure(AppContext& ctx, const Status& status) {
    if (!status && !ctx.mainState.Deliveries.shuttingDown) {
        ctx.mainWindow.reportClipboardFailure(status.error());
    }
}

// Puts the text on the clipboard, sends the paste key and waits until the target has fetched it.
// Nothing is pasted when the clipboard could not be taken: the target would paste whatever was there.
void Paste(AppContext& ctx, const std::u16string& text, PasteKind kind) {
    Clipboard& clipboard = ctx.platform.clipboard;
    Keyboard& keys = ctx.platform.keyboard;
    if (const Status offered = clipboard.offerForPaste(text, ctx.state.TargetWindow, kind); !offered) {
        ReportClipboardFailure(ctx, offered);
        return;
    }
    Status sent = keys.pressPasteKey();
    if (sent) {
        sent = keys.waitUntilSent();
    }
    if (sent) {
        if (const Status pasted = clipboard.waitUntilPasted(PasteRequestBound); !pasted) {
            ctx.mainWindow.writeDiagnostic("paste: " + pasted.error());
        }
    }
    ReportKeyFailure(ctx, sent);
    clipboard.endPaste();
}

// Types in slices with the events handled between them, so the window stays live and a click on it
// (StopTyping) or the program's end stops the typing at the next slice.
void Type(AppContext& ctx, const std::u16string& text) {
    DeliveryQueue& queue = ctx.mainState.Deliveries;
    if (!text.empty() && !queue.shuttingDown) {
        queue.typing = true;
        queue.stopTyping = false;
        const Status typed = ctx.platform.keyboard.typeText(ApplyLineEndRule(text), [&ctx, &queue] {
            ctx.platform.pump.pumpOnce();
            return !queue.stopTyping && !queue.shuttingDown;
        });
        queue.typing = false;
        queue.stopTyping = false;
        // Waited for also after a failed typing: what was typed is handled before anything else.
        const Status sent = ctx.platform.keyboard.waitUntilSent();
        ReportKeyFailure(ctx, typed ? sent : typed);
    }
    ctx.platform.pump.pumpOnce();
}

// Types with the focused window's input method switched off for the typing and back afterwards
// (also after a typing that failed or was stopped), so that no key is composed into other text.
// Where that input method's state cannot be known or changed, typed keys could arrive as anything:
// the text is pasted instead, and the user is told so once. Returns true when it was pasted.
bool TypeWithInputMethodOff(AppContext& ctx, const std::u16string& text, PasteKind kind) {
    InputMethodControl* const inputMethod = ctx.platform.inputMethod;
    if (inputMethod == nullptr || text.empty() || ctx.mainState.Deliveries.shuttingDown) {
        Type(ctx, text);
        return false;
    }
    const Result<bool> suspended = inputMethod->suspend();
    if (!suspended) {
        if (!ctx.mainState.ToldPastedInsteadOfTyped) {
            ctx.mainState.ToldPastedInsteadOfTyped = true;
            ctx.mainWindow.reportPastedInsteadOfTyped(suspended.error());
        }
        Paste(ctx, text, kind);
        return true;
    }
    Type(ctx, text);
    if (suspended.value()) {
        // The input method is switched back in the window that has the focus, and a click that
        // stopped the typing has moved it to this program: the target gets it back first. Where it
        // cannot, the target's input method stays off rather than another window's being switched on.
        const auto foreground = ctx.platform.windows.foregroundWindow();
        const bool onTarget =
            (foreground && foreground.value() == ctx.state.TargetWindow) || FocusReturn(ctx);
        const Status restored =
            onTarget ? inputMethod->restore()
                     : Status::failure("the focus could not be given back to the window typed into");
        if (!restored) {
            ReportKeyFailure(ctx,
                             Status::failure("入力メソッドを元に戻せませんでした。\n" + restored.error()));
        }
    }
    return false;
}

// Empties the clipboard and puts the text on it; whether that worked is the setting's result.
void ReplaceClipboardText(AppContext& ctx, const std::u16string& text) {
    IgnoreFailure(ctx.platform.clipboard.clear(), "the text set next replaces whatever is left");
    ReportClipboardFailure(ctx, ctx.platform.clipboard.setText(text));
}

void RestoreLastClipboardText(AppContext& ctx) {
    ReplaceClipboardText(ctx, ctx.mainState.LastClipboardText);
}

}  // namespace

std::u16string ApplyLineEndRule(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out.push_back(text[i]);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        }
    }
    return out;
}

Status FocusReturn(AppContext& ctx) {
    WindowSystem& windows = ctx.platform.windows;
    ctx.platform.timer.setEnabled(false);
    const auto start = ctx.platform.clock.now();
    for (;;) {
        const WindowHandle target = ctx.state.TargetWindow;  // afresh: a yield may have changed it
        if (!windows.windowExists(target)) {
            return Status::failure("the target window closed before anything was sent to it");
        }
        IgnoreFailure(windows.makeForeground(target), "the foreground window is read back below");
        ctx.platform.pump.pumpOnce();
        if (ctx.mainState.Deliveries.shuttingDown) {
            return Status::failure("the program is ending");
        }
        const auto foreground = windows.foregroundWindow();
        if (foreground && foreground.value() == ctx.state.TargetWindow) {
            return Status::success();
        }
        if (ctx.platform.clock.now() - start >= FocusReturnBound) {
            return Status::failure("the target window did not come to the front within " +
                                   std::to_string(FocusReturnBound.count()) + " ms; nothing was sent");
        }
    }
}

void CopySlot(AppContext& ctx, std::int16_t index) {
    auto copy = [&ctx, index] { ReplaceClipboardText(ctx, ctx.mainWindow.text(index)); };
    if (ctx.mainState.Deliveries.running) {
        ctx.mainState.Deliveries.pending.emplace_back(copy);
    } else {
        copy();
    }
}

void SendSlot(AppContext& ctx, std::int16_t index) {
    RunDelivery(ctx, [&ctx, index] {
        if (!ctx.platform.windows.windowExists(ctx.state.TargetWindow)) {
            return;
        }
        const Status focused = FocusReturn(ctx);
        ReportKeyFailure(ctx, focused);
        if (focused) {
            const std::u16string text = ctx.mainWindow.text(index);
            switch (ctx.state.SendMode) {
                case SendByPaste:
                    Paste(ctx, text, PasteKind::SlotText);
                    RestoreLastClipboardText(ctx);
                    break;
                case SendByKeystrokes:
                    if (TypeWithInputMethodOff(ctx, text, PasteKind::SlotText)) {
                        RestoreLastClipboardText(ctx);
                    }
                    break;
                default:
                    break;
            }
        }
        ctx.platform.timer.setEnabled(true);
    });
}

void ConvertTargetSelection(AppContext& ctx, ConversionKind kind) {
    RunDelivery(ctx, [&ctx, kind] {
        if (!ctx.platform.windows.windowExists(ctx.state.TargetWindow)) {
            return;
        }
        const Status focused = FocusReturn(ctx);
        ReportKeyFailure(ctx, focused);
        if (focused) {
            Clipboard& clipboard = ctx.platform.clipboard;
            Keyboard& keys = ctx.platform.keyboard;
            // Text left on the clipboard would be taken for the copy where the target owned the
            // clipboard before, and a target without a selection copies nothing: nothing is
            // converted then.
            Status copyKey = clipboard.clear();
            ReportClipboardFailure(ctx, copyKey);
            if (copyKey) {
                copyKey = keys.pressCopyKey();
                if (copyKey) {
                    copyKey = keys.waitUntilSent();
                }
                ReportKeyFailure(ctx, copyKey);
            }
            bool copied = copyKey.ok();
            ctx.platform.pump.pumpOnce();
            // The target answers the copy key asynchronously; a target without a selection never
            // does, and the wait ends at its bound. Then the copy gave no text, whatever the
            // clipboard may still hold.
            copied = copied && clipboard.waitForCopyFrom(ctx.state.TargetWindow, CopyBound).ok();
            const auto hasText = copied ? clipboard.hasText() : Result<bool>::success(false);
            if (hasText && hasText.value()) {
                if (const auto selection = clipboard.getText()) {
                    IgnoreFailure(clipboard.clear(), "the clipboard is given its text again below");
                    const std::u16string converted = ConvertText(selection.value(), kind);
                    switch (ctx.state.SendMode) {
                        case SendByPaste:
                            Paste(ctx, converted, PasteKind::SelectionReplacement);
                            break;
                        case SendByKeystrokes:
                            TypeWithInputMethodOff(ctx, converted, PasteKind::SelectionReplacement);
                            break;
                        default:
                            break;
                    }
                    RestoreLastClipboardText(ctx);
                }
            }
        }
        ctx.platform.timer.setEnabled(true);
    });
}

void StopTyping(AppContext& ctx) {
    if (ctx.mainState.Deliveries.typing) {
        ctx.mainState.Deliveries.stopTyping = true;
    }
}

void ShutDownDeliveries(AppContext& ctx) {
    ctx.mainState.Deliveries.shuttingDown = true;
}

void SaveTargetForDialog(AppState& state, std::optional<WindowHandle> openDialog) {
    const WindowHandle target = state.TargetWindow;
    if (!(openDialog && target != 0 && target == *openDialog)) {
        state.SavedTarget = target;
    }
}

void ReturnFocusFromDialog(AppContext& ctx) {
    if (ctx.state.SavedTarget == 0) {
        return;
    }
    ctx.state.TargetWindow = ctx.state.SavedTarget;
    if (!ctx.platform.windows.windowExists(ctx.state.TargetWindow)) {
        return;
    }
    IgnoreFailure(FocusReturn(ctx), "nothing is sent after a dialog: a target left behind loses nothing");
    ctx.platform.timer.setEnabled(true);
}

}  // namespace varnel
