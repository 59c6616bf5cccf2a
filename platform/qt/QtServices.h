// Services Qt provides on every platform: the event pump, the tick timer, and stand-ins for the
// clipboard, the window system and the keyboard where no native backend is in use (Qt's offscreen
// platform in the widget tests, or a display we have no backend for).
#pragma once

#include <QTimer>

#include "platform/Clipboard.h"
#include "platform/EventPump.h"
#include "platform/Keyboard.h"
#include "platform/TickTimer.h"
#include "platform/WindowSystem.h"

namespace varnel {

class QtEventPump : public EventPump {
  public:
    void pumpOnce() override;
};

// The tick timer: the main window's QTimer seen through the TickTimer interface.
class QtTickTimer : public TickTimer {
  public:
    explicit QtTickTimer(QTimer& timer) : timer_(timer) {}
    void setEnabled(bool on) override;
    bool isEnabled() const override { return timer_.isActive(); }

  private:
    QTimer& timer_;
};

// QClipboard. Fine where every clipboard owner answers promptly; the X11 backend replaces it on X11.
class QtClipboard : public Clipboard {
  public:
    Status clear() override;
    Result<bool> hasText() override;
    Result<std::u16string> getText() override;
    std::uint64_t changeCount() override { return 0; }
    Status setText(const std::u16string& text) override;
    Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) override;
    Status waitUntilPasted(std::chrono::milliseconds bound) override;
    void endPaste() override {}
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) override;
};

// Knows only this program's own windows.
class QtWindowSystem : public WindowSystem {
  public:
    Result<WindowHandle> foregroundWindow() override;
    Status makeForeground(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    bool isOwnWindow(WindowHandle window) override;
    Status setZOrder(WindowHandle window, ZOrderMode mode) override;
    Result<MonitorArea> primaryMonitorArea() override;
    Result<TwipsPerPixel> twipsPerPixel() override;
};

// Where keys cannot be synthesised: every operation fails.
class UnavailableKeyboard : public Keyboard {
  public:
    Status pressPasteKey() override { return Status::failure("no keyboard backend"); }
    Status pressCopyKey() override { return Status::failure("no keyboard backend"); }
    Status typeText(const std::u16string&, const BetweenSlices&) override {
        return Status::failure("no keyboard backend");
    }
    Status waitUntilSent() override { return Status::failure("no keyboard backend"); }
};

}  // namespace varnel
