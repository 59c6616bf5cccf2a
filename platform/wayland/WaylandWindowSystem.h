// The window system of a Wayland session through the compositor's list of windows: wlroots' foreign-
// toplevel protocol, or on KWin its plasma window management (granted only to programs whose desktop
// entry asks for it). The activated toplevel is the foreground window, activation brings a toplevel
// back. Events are read on the calling thread whenever a method is called, without waiting.
//
// Our own toplevels are recognised by their app_id (and, where the compositor tells it, our process id); when
// one of them is activated, the foreground window is the handle our toolkit gives the active window of this
// process. Wayland gives clients no say over the stacking order: setZOrder fails and the compositor places
// the windows. The screen metrics come from the toolkit.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/WindowSystem.h"

namespace varnel {

class WaylandWindowSystem : public WindowSystem {
  public:
    // ownAppId: the app_id of our toplevels. ownActiveWindow: the handle of our active window (0 when
    // none is known). screen answers the screen metrics. Null, with the reason in *why, when the
    // compositor offers neither list of windows, or no seat.
    static std::unique_ptr<WaylandWindowSystem> open(std::string ownAppId,
                                                     std::function<WindowHandle()> ownActiveWindow,
                                                     WindowSystem& screen, std::string* why);
    ~WaylandWindowSystem() override;
    WaylandWindowSystem(const WaylandWindowSystem&) = delete;
    WaylandWindowSystem& operator=(const WaylandWindowSystem&) = delete;

    Result<WindowHandle> foregroundWindow() override;
    Status makeForeground(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    bool isOwnWindow(WindowHandle window) override;
    Status setZOrder(WindowHandle window, ZOrderMode mode) override;
    Result<MonitorArea> primaryMonitorArea() override;
    Result<TwipsPerPixel> twipsPerPixel() override;

    // The title of a toplevel we know, for diagnostics and tests; empty when unknown.
    std::string title(WindowHandle window);
    // The first toplevel with that title; 0 when there is none (for tests).
    WindowHandle findByTitle(const std::string& title);

    struct Impl;

  private:
    explicit WaylandWindowSystem(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
