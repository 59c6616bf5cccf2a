#include "core/Startup.h"

#include <algorithm>
#include <climits>

#include "core/SlotFileStep.h"

namespace varnel {

std::optional<std::int32_t> DockedLeftTwips(int screenWidthPixels) {
    if (screenWidthPixels == ReferenceScreenWidth) {
        return std::nullopt;
    }
    const std::int64_t left =
        std::int64_t{screenWidthPixels - ReferenceScreenWidth} * DockingTwipsPerPixel + DesignWindowLeft;
    const std::int64_t screenTwips = std::int64_t{screenWidthPixels} * DockingTwipsPerPixel;
    const std::int64_t rightmost = std::max<std::int64_t>(0, screenTwips - DesignWindowWidth);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(left, 0, rightmost));
}

std::optional<std::int32_t> DockedLeftTwips(const MonitorArea& monitor) {
    const auto withinMonitor = DockedLeftTwips(monitor.width);
    if (!withinMonitor && monitor.left == 0) {
        return std::nullopt;
    }
    const std::int64_t left =
        std::int64_t{monitor.left} * DockingTwipsPerPixel + withinMonitor.value_or(DesignWindowLeft);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(left, INT32_MIN, INT32_MAX));
}

bool SetZOrder(WindowSystem& windows, WindowHandle window, ZOrderMode mode) {
    switch (mode) {
        case ZOrderMode::NotTopmost:
        case ZOrderMode::Topmost:
        case ZOrderMode::Bottom:
            return windows.setZOrder(window, mode).ok();
    }
    return false;
}

void PaintCaptureSlots(const AppState& state, Slots& slots) {
    if (!state.CaptureEnabled) {
        return;
    }
    const std::int16_t last = std::min(state.RotationCount, LastSlot);
    for (std::int16_t i = FirstSlot; i <= last; ++i) {
        slots.setBackground(i, SlotBackground::Capture);
    }
}

Status LoadMainWindow(AppContext& ctx) {
    AppState& state = ctx.state;
    MainWindowState& own = ctx.mainState;

    // The primary monitor. A display that cannot tell is treated like the reference screen, which
    // leaves the window where the layout puts it.
    const MonitorArea monitor =
        ctx.platform.windows.primaryMonitorArea().valueOr(MonitorArea{0, 0, ReferenceScreenWidth, 600});

    // Dock near the right edge of the primary monitor.
    if (const auto left = DockedLeftTwips(monitor)) {
        ctx.mainWindow.setLeft(*left);
    }

    // Our own handle, so that the tick never takes the main window for the target.
    own.OwnWindow = ctx.mainWindow.nativeHandle();

    // Start values.
    state.SendMode = SendByPaste;
    state.CaptureEnabled = true;
    state.RotationCount = 1;
    state.DisplayMode = DisplaySize::FiveRows;
    own.RotationCursor = 0;

    // The slot file named on the command line, if any.
    const Status slotFile = SlotFileStartupStep(ctx);

    // Topmost and visible.
    own.ZOrderMode = ZOrderMode::Topmost;
    ctx.mainWindow.show();
    SetZOrder(ctx.platform.windows, own.OwnWindow, own.ZOrderMode);

    // The capture colour on the slots the capture rotates over.
    PaintCaptureSlots(state, ctx.mainWindow);
    return slotFile;
}

void UnloadSecondaryWindows(SecondaryWindows& windows) {
    windows.unloadSlotMenu();
    windows.unloadSettingsDialog();
    windows.unloadEditDialog();
}

}  // namespace varnel
