// Start-up (LoadMainWindow), the z-order routine and shutdown (UnloadSecondaryWindows).
#pragma once

#include <cstdint>
#include <optional>

#include "core/AppContext.h"
#include "core/MainWindowGeometry.h"

namespace varnel {

// Constants of the docking rule.
constexpr int ReferenceScreenWidth = 800;  // pixels
constexpr int DockingTwipsPerPixel = 15;

// Where start-up puts the main window's outer left edge, in twips, for a screen of the given width.
// No value at exactly the reference width: the window keeps its layout position there.
// Widths up to 2457 pixels give (width - 800) * 15 + 7905 exactly; wider screens are computed in
// 32 bits. The result never lets the window stick out over either side of the screen.
std::optional<std::int32_t> DockedLeftTwips(int screenWidthPixels);
// The same rule on a monitor whose corner need not be the desktop's: the window docks at the right
// edge of that monitor and stays within it. No value only for a monitor of the reference width at the
// desktop's left edge.
std::optional<std::int32_t> DockedLeftTwips(const MonitorArea& monitor);

// Places a window in the stacking order: not topmost, topmost, or bottom without activation.
// False when the window system refused, and false without any call for a value outside the three.
bool SetZOrder(WindowSystem& windows, WindowHandle window, ZOrderMode mode);

// Paints slots 1..RotationCount in the capture colour while capture is on (CaptureEnabled).
// The bound is read once; slots beyond the tenth do not exist and are skipped.
void PaintCaptureSlots(const AppState& state, Slots& slots);

// Start-up of the main window: docking, start values, the slot file from the command line, showing it
// topmost, the capture colours. The slot file is read after the start values and before the z-order.
// Fails when a slot file was named and found but could not be loaded (the window is up all the same,
// capture off and the slots empty): the front end tells the user why.
Status LoadMainWindow(AppContext& ctx);

// UnloadSecondaryWindows: unloads the slot menu, then the settings dialog, then the edit dialog.
void UnloadSecondaryWindows(SecondaryWindows& windows);

}  // namespace varnel
