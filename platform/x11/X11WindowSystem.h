// The window system on X11: EWMH foreground tracking and activation, existence checks and the
// stacking order of our own windows, on a connection of its own.
#pragma once

#include <memory>
#include <string>

#include "platform/WindowSystem.h"

namespace varnel {

class X11WindowSystem : public WindowSystem {
  public:
    // Null when the display cannot be opened; the reason goes to *why.
    static std::unique_ptr<X11WindowSystem> open(std::string* why);
    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    Result<WindowHandle> foregroundWindow() override;
    Status makeForeground(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    bool isOwnWindow(WindowHandle window) override;
    Status setZOrder(WindowHandle window, ZOrderMode mode) override;
    Status keepFloating(WindowHandle window) override;
    // _VARNEL_TARGET_WINDOW (WINDOW) and _VARNEL_CAPTURED_TEXTS (CARDINAL), one 32-bit value each.
    Status showValue(WindowHandle own, ShownValue which, std::uint64_t value) override;
    // The area set with setPrimaryMonitorArea; until then the whole X screen.
    Result<MonitorArea> primaryMonitorArea() override;
    Result<TwipsPerPixel> twipsPerPixel() override;

    // The unit the toolkit places windows in: how many device pixels one unit spans (its device pixel
    // ratio) and how many units make an inch (its logical DPI). Screen widths and twips per pixel are
    // reported in that unit, so that docking and menu positions land where the toolkit draws. Until
    // set: device pixels at 96 DPI.
    void setPlacementUnit(double devicePixelsPerUnit, double unitsPerInch);
    // The primary monitor's area for windows, in that unit, as the toolkit sees it (RandR monitors
    // and the work area): Xlib alone knows only the whole screen, which spans every monitor.
    void setPrimaryMonitorArea(const MonitorArea& area);

  private:
    struct Impl;
    explicit X11WindowSystem(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
