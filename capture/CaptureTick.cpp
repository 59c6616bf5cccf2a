#include "capture/CaptureTick.h"

#include <limits>

namespace varnel {

void OnCaptureTick(AppContext& ctx) {
    AppState& state = ctx.state;
    MainWindowState& own = ctx.mainState;

    // Steps 1-3: foreground tracking. A failed query would set the tick's text to LastClipboardText,
    // which steps 5 and 6 overwrite before anything reads it.
    if (const auto foreground = ctx.platform.windows.foregroundWindow()) {
        if (foreground.value() != own.OwnWindow) {
            state.TargetWindow = foreground.value();
        }
    }
    CaptureStep(ctx);
}

void ClipboardChanged(AppContext& ctx) {
    if (ctx.platform.timer.isEnabled()) {
        CaptureStep(ctx);
    }
}

void CaptureStep(AppContext& ctx) {
    AppState& state = ctx.state;
    MainWindowState& own = ctx.mainState;
    Clipboard& clipboard = ctx.platform.clipboard;
    // The reads share the clipboard's copy of the text: a huge text is kept once, not once per holder.
    SharedText text;

    // Step 4.
    if (state.CaptureEnabled != 1) {
        return;
    }

    // Nothing changed since the clipboard last held LastClipboardText: steps 5-7 would end the tick.
    const std::uint64_t count = clipboard.changeCount();
    if (count != 0 && count == own.ClipboardCountMatched) {
        return;
    }

    // Step 5: the format test. A failed test counts as passed.
    if (const auto hasText = clipboard.hasText()) {
        if (!hasText.value()) {
            return;
        }
    } else {
        text = own.LastClipboardText;
    }

    // Step 6: the first read.
    bool readOk = false;
    if (const auto read = clipboard.getSharedText()) {
        text = read.value();
        readOk = true;
    } else {
        text = own.LastClipboardText;
    }

    // Step 7.
    if (text == own.LastClipboardText) {
        if (readOk) {
            own.ClipboardCountMatched = count;
        }
        return;
    }

    // Step 8: what is stored comes from a second read.
    if (const auto again = clipboard.getSharedText()) {
        own.LastClipboardText = again.value();
        own.ClipboardCountMatched = count;
    } else {
        text = own.LastClipboardText;
    }

    // Step 9: 16-bit cursor; passing 32767 fails the step and keeps the cursor.
    if (own.RotationCursor == std::numeric_limits<std::int16_t>::max()) {
        text = own.LastClipboardText;
    } else {
        ++own.RotationCursor;
    }

    // Steps 10-11: wrap.
    if (own.RotationCursor > state.RotationCount) {
        own.RotationCursor = 1;
    }

    // Step 12: a cursor above the last slot names no slot; the write fails and the tick ends.
    ctx.form.setSharedText(own.RotationCursor, own.LastClipboardText);
}

}  // namespace varnel
