// The window-system, clipboard and keyboard services of the Windows program.
#pragma once

#include <cmath>

#include "platform/EventPump.h"
#include "platform/win32/Win32Clipboard.h"
#include "platform/win32/Win32InputMethods.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32WindowSystem.h"

namespace varnel {

// The window system with the primary monitor's area in pixels of 15 twips, the unit the docking rule
// counts in. This process is per-monitor DPI aware, so the system's pixels are the monitor's own (20 twips
// at 144 DPI) and the windows are placed in them; twipsPerPixel stays the monitor's, for the slot
// menu's position.
class LayoutPixelsWindowSystem : public WindowSystem {
  public:
    explicit LayoutPixelsWindowSystem(Win32WindowSystem& system) : system_(system) {}
    Result<WindowHandle> foregroundWindow() override { return system_.foregroundWindow(); }
    Status makeForeground(WindowHandle window) override { return system_.makeForeground(window); }
    bool windowExists(WindowHandle window) override { return system_.windowExists(window); }
    bool isOwnWindow(WindowHandle window) override { return system_.isOwnWindow(window); }
    Status setZOrder(WindowHandle window, ZOrderMode mode) override {
        return system_.setZOrder(window, mode);
    }
    Status keepFloating(WindowHandle window) override { return system_.keepFloating(window); }
    Status showValue(WindowHandle own, ShownValue which, std::uint64_t value) override {
        return system_.showValue(own, which, value);
    }
    Result<MonitorArea> primaryMonitorArea() override {
        const auto area = system_.primaryMonitorArea();
        const auto twips = system_.twipsPerPixel();
        if (!area || !twips || twips.value().x <= 0) {
            return area;
        }
        const auto layoutPixels = [&twips](int pixels) {
            return static_cast<int>(std::lround(pixels * twips.value().x / 15.0));
        };
        const MonitorArea& a = area.value();
        return Result<MonitorArea>::success(MonitorArea{layoutPixels(a.left), layoutPixels(a.top),
                                                        layoutPixels(a.width), layoutPixels(a.height)});
    }
    Result<TwipsPerPixel> twipsPerPixel() override { return system_.twipsPerPixel(); }

  private:
    Win32WindowSystem& system_;
};

class NativeBackends {
  public:
    // The clipboard's owner window belongs to the calling thread, the one `pump` pumps.
    explicit NativeBackends(EventPump& pump) : clipboard_(pump) {}
    WindowSystem& windows() { return layoutWindows_; }
    // The screen metrics are those of the monitor this window is on.
    void setReferenceWindow(WindowHandle window) { windows_.setReferenceWindow(window); }
    Clipboard& clipboard() { return clipboard_; }
    Keyboard& keyboard() { return keyboard_; }
    InputMethodControl& inputMethods() { return inputMethods_; }

  private:
    Win32WindowSystem windows_;
    LayoutPixelsWindowSystem layoutWindows_{windows_};
    Win32Clipboard clipboard_;
    Win32Keyboard keyboard_;
    Win32InputMethods inputMethods_;
};

}  // namespace varnel
