#include "core/DisplayModes.h"

#include "core/Startup.h"

namespace varnel {

void WindowSizeChange(AppContext& ctx) {
    const auto mode = static_cast<std::int16_t>(ctx.state.DisplayMode);
    if (mode < 0 || mode > 2) {
        return;
    }
    ctx.mainWindow.setOuterHeightTwips(PresetHeight[mode]);
    ctx.mainWindow.setOuterWidthTwips(DesignWindowWidth);
}

void CycleDisplayMode(AppContext& ctx) {
    ctx.state.DisplayMode = static_cast<DisplaySize>((static_cast<int>(ctx.state.DisplayMode) + 1) % 3);
    WindowSizeChange(ctx);
}

void FitSlotsToWidth(MainWindowView& window) {
    if (window.isMinimized()) {
        return;
    }
    if (window.outerWidthTwips() < MinimumWindowWidth) {
        window.setOuterWidthTwips(MinimumWindowWidth);
    }
    for (std::int16_t i = FirstSlot; i <= LastSlot; ++i) {
        window.setSlotWidth(i, window.outerWidthTwips() - SlotWidthAllowance);
    }
}

void SelectZOrder(AppContext& ctx, ZOrderMode mode) {
    ctx.mainState.ZOrderMode = mode;
    SetZOrder(ctx.platform.windows, ctx.mainWindow.nativeHandle(), ctx.mainState.ZOrderMode);
}

}  // namespace varnel
