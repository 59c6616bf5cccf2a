// The window system on Windows: the foreground window and its activation, existence checks, the
// stacking order of our own windows and the metrics of the screen our main window is on.
#pragma once

#include "platform/WindowSystem.h"

namespace varnel {

class Win32WindowSystem : public WindowSystem {
  public:
    Win32WindowSystem() = default;

    // GetForegroundWindow as it is, our own windows and the desktop included; 0 when none.
    Result<WindowHandle> foregroundWindow() override;
    // SetForegroundWindow, then (if that did not take) once more attached to the input of the thread
    // in front; succeeds only when the window is still in front after a short settle, because a
    // window manager may take the foreground back a few milliseconds later (Wine under openbox).
    Status makeForeground(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    bool isOwnWindow(WindowHandle window) override;
    Status setZOrder(WindowHandle window, ZOrderMode mode) override;
    // The primary monitor's work area, in the pixels of this process's DPI awareness.
    Result<MonitorArea> primaryMonitorArea() override;
    Result<TwipsPerPixel> twipsPerPixel() override;
    // A property of the window (SetPropW), the value as a handle-sized integer: TargetWindowProperty
    // or CapturedTextsProperty. Other processes read it with GetPropW.
    Status showValue(WindowHandle own, ShownValue which, std::uint64_t value) override;
    // Removes what showValue put on the window; the window calls it while it is destroyed, as Windows
    // asks of every property.
    static void removeShownValues(WindowHandle own);

    static constexpr const wchar_t* TargetWindowProperty = L"VarnelTargetWindow";
    static constexpr const wchar_t* CapturedTextsProperty = L"VarnelCapturedTexts";

    // The window whose monitor gives the screen metrics (the main window); until set, or when it is
    // gone, the primary monitor.
    void setReferenceWindow(WindowHandle window) { reference_ = window; }

  private:
    WindowHandle reference_ = 0;
};

}  // namespace varnel
