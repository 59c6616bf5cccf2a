#include "core/DisplayModes.h"

#include "core/Startup.h"

namespace varnel {

void WindowSizeChange(AppContext& ctx) {
    const std::int16_t mode = ctx.state.DisplayMode;
    if (mode < 0 || mode > 2) {
        return;
    }
    ctx.form.setHeight(PresetHeight[mode]);
    ctx.form.setWidth(PresetWidth);
}

void CycleDisplayMode(AppContext& ctx) {
    ctx.state.DisplayMode = static_cast<std::int16_t>((ctx.state.DisplayMode + 1) % 3);
    WindowSizeChange(ctx);
}

void FitSlotsToWidth(MainForm& form) {
    if (form.isMinimized()) {
        return;
    }
    if (form.width() < MinimumWindowWidth) {
        form.setWidth(MinimumWindowWidth);
    }
    for (std::int16_t i = FirstSlot; i <= LastSlot; ++i) {
        form.setSlotWidth(i, form.width() - SlotWidthAllowance);
    }
}

void SelectZOrder(AppContext& ctx, std::int16_t index) {
    ctx.mainState.ZOrderMode = index;
    SetZOrder(ctx.platform.windows, ctx.form.nativeHandle(), ctx.mainState.ZOrderMode);
}

}  // namespace varnel
