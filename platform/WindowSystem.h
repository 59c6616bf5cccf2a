// The window system as the behaviour sees it: the foreground window, activation, existence, the place
// of our own windows in the stacking order and the screen metrics.
#pragma once

#include <cstdint>

#include "base/Result.h"

namespace varnel {

// Opaque handle of a top-level window; 0 means none. Wide enough for a native handle of any supported
// window system: an X11 window id or a Windows HWND (a pointer).
using WindowHandle = std::uint64_t;

// Z-order modes as SetZOrder takes them.
enum class ZOrderMode : std::int16_t {
    NotTopmost = 0,
    Topmost = 1,
    Bottom = 2,  // leaves the topmost group, goes behind every window, not activated
};

// Values of the program's own state that it shows to other programs (scripts, test drivers) on its
// main window.
enum class ShownValue : std::int16_t {
    TargetWindow,   // the window a send or conversion would go to; 0 for none
    CapturedTexts,  // how many clipboard texts the capture has stored into slots since the start
};

// A rectangle of the desktop in the pixels windows are placed in: its corner and its size.
struct MonitorArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct TwipsPerPixel {
    float x = 15.0f;
    float y = 15.0f;
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // The window the user works in now; success with 0 when there is none.
    virtual Result<WindowHandle> foregroundWindow() = 0;
    // Asks for the window to become the foreground window. Callers re-check with foregroundWindow().
    virtual Status makeForeground(WindowHandle window) = 0;
    // True only when the handle names an existing top-level window; false on any failure.
    virtual bool windowExists(WindowHandle window) = 0;
    // True when the window is one this program created (the main window, a dialog, a notice, a menu or
    // a tooltip); false for another program's window, for 0 and when it cannot be told.
    virtual bool isOwnWindow(WindowHandle window) = 0;
    // Places one of our own windows in the stacking order; its handle stays the same.
    virtual Status setZOrder(WindowHandle window, ZOrderMode mode) = 0;
    // Before one of our windows is first shown: asks window managers to leave it floating at its own
    // size and place (tiling managers tile ordinary windows) while it keeps its taskbar entry.
    virtual Status keepFloating(WindowHandle /*window*/) { return Status::success(); }
    // Shows one of the values above on one of our own windows (on X11 and Windows: as a property of
    // it). ShowStateToOtherPrograms calls it only when the value has changed. A window system without
    // such a place shows nothing.
    virtual Status showValue(WindowHandle /*own*/, ShownValue /*which*/, std::uint64_t /*value*/) {
        return Status::success();
    }
    // The primary monitor's area for windows (panels and task bars left out) in the pixels windows
    // are placed in (the toolkit's logical pixels, which are device pixels at scale 1), with its
    // corner on the whole desktop; and the size of that pixel in twips.
    virtual Result<MonitorArea> primaryMonitorArea() = 0;
    virtual Result<TwipsPerPixel> twipsPerPixel() = 0;
};

}  // namespace varnel
