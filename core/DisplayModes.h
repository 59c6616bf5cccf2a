// The main window's three preset heights, its resize rule and its z-order buttons.
#pragma once

#include <cstdint>

#include "core/AppContext.h"
#include "core/MainWindowGeometry.h"

namespace varnel {

constexpr int MinimumWindowWidth = 1800;
constexpr int SlotWidthAllowance = 1185;  // slot width = window width - this

// Applies the preset of the current DisplayMode: the height, then the width 3840. Any other mode
// changes nothing.
void WindowSizeChange(AppContext& ctx);

// A double-click on the window's bare client area: the next preset (0 -> 1 -> 2 -> 0).
void CycleDisplayMode(AppContext& ctx);

// Every size change: keeps the window at least 1800 wide and stretches the slots to its width.
// A minimized window is left alone; a maximized one follows the rule like any other size.
void FitSlotsToWidth(MainWindowView& window);

// The z-order buttons: Topmost keeps the main window above all others, Bottom sends it behind all of
// them.
void SelectZOrder(AppContext& ctx, ZOrderMode mode);

}  // namespace varnel
