#include "capture/CaptureTick.h"

#include <limits>

namespace varnel {

namespace {

// Whether the window in the foreground becomes TargetWindow: any other program's window, or none at
// all (0); of our own windows only the settings and edit dialogs.
bool MayBecomeTarget(AppContext& ctx, WindowHandle foreground) {
    const MainWindowState& own = ctx.mainState;
    if (foreground == own.OwnWindow) {
        return false;
    }
    if (foreground == 0 || foreground == own.SettingsDialogWindow || foreground == own.EditDialogWindow) {
        return true;
    }
    return !ctx.platform.windows.isOwnWindow(foreground);
}

}  // namespace

void OnCaptureTick(AppContext& ctx) {
    // Track the window the user works in. A failed query leaves the target as it was (the capture
    // below does not depend on it).
    if (const auto foreground = ctx.platform.windows.foregroundWindow()) {
        if (MayBecomeTarget(ctx, foreground.value())) {
            ctx.state.TargetWindow = foreground.value();
        }
    }
    CaptureStep(ctx);
}

void ClipboardChanged(AppContext& ctx) {
    if (ctx.platform.timer.isEnabled()) {
        CaptureStep(ctx);
    }
}

void ShowStateToOtherPrograms(AppContext& ctx) {
    MainWindowState& own = ctx.mainState;
    WindowSystem& windows = ctx.platform.windows;
    const WindowHandle target = ctx.state.TargetWindow;
    if (own.ShownTarget != target &&
        windows.showValue(ctx.mainWindow.nativeHandle(), ShownValue::TargetWindow, target).ok()) {
        own.ShownTarget = target;
    }
    const std::uint64_t captured = own.CapturedTexts;
    if (own.ShownCaptures != captured &&
        windows.showValue(ctx.mainWindow.nativeHandle(), ShownValue::CapturedTexts, captured).ok()) {
        own.ShownCaptures = captured;
    }
}

void CaptureStep(AppContext& ctx) {
    AppState& state = ctx.state;
    MainWindowState& own = ctx.mainState;
    Clipboard& clipboard = ctx.platform.clipboard;
    // The reads share the clipboard's copy of the text: a huge text is kept once, not once per holder.
    SharedText text;

    // Capture switched off in the settings: nothing to do.
    if (!state.CaptureEnabled) {
        return;
    }

    // Nothing changed since the clipboard last held LastClipboardText: the checks below would end here.
    const std::uint64_t count = clipboard.changeCount();
    if (count != 0 && count == own.ClipboardCountMatched) {
        return;
    }

    // No text on the clipboard (an image, files): nothing to capture. A failed test counts as passed,
    // and the text then falls back to the last captured one.
    if (const auto hasText = clipboard.hasText()) {
        if (!hasText.value()) {
            return;
        }
    } else {
        text = own.LastClipboardText;
    }

    // The first read, only to compare; a failed read compares as the last captured text.
    bool readOk = false;
    if (const auto read = clipboard.getSharedText()) {
        text = read.value();
        readOk = true;
    } else {
        text = own.LastClipboardText;
    }

    // The same text as last time is not captured again.
    if (text == own.LastClipboardText) {
        if (readOk) {
            own.ClipboardCountMatched = count;
        }
        return;
    }

    // What is stored comes from a second read, so that a text replaced between the two reads is
    // stored as it is now.
    if (const auto again = clipboard.getSharedText()) {
        own.LastClipboardText = again.value();
        own.ClipboardCountMatched = count;
    } else {
        text = own.LastClipboardText;
    }

    // Advance the rotation cursor. It is a 16-bit value: at 32767 it stays where it is.
    if (own.RotationCursor == std::numeric_limits<std::int16_t>::max()) {
        text = own.LastClipboardText;
    } else {
        ++own.RotationCursor;
    }

    // Past the rotation count the cursor wraps to the first slot.
    if (own.RotationCursor > state.RotationCount) {
        own.RotationCursor = 1;
    }

    // Store into the slot under the cursor. A cursor above the last slot names no slot: the write
    // is refused and nothing is stored.
    if (ctx.mainWindow.setSharedText(own.RotationCursor, own.LastClipboardText)) {
        ++own.CapturedTexts;
    }
}

}  // namespace varnel
