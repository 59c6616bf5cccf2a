// What an X11 window on XWayland would be offered by a paste. KWin passes a new Wayland clipboard on to
// its XWayland only while an X11 window is active, and only a moment later: a paste key that reaches
// the X11 window sooner finds the old text, or none, on X11's CLIPBOARD.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/x11/X11Connection.h"

namespace varnel::wayland {

class XWaylandClipboardProbe {
  public:
    // Null when DISPLAY is not set or its display cannot be opened.
    static std::unique_ptr<XWaylandClipboardProbe> open();
    ~XWaylandClipboardProbe();
    XWaylandClipboardProbe(const XWaylandClipboardProbe&) = delete;
    XWaylandClipboardProbe& operator=(const XWaylandClipboardProbe&) = delete;

    // Whether the active window is an X11 one: the window manager names it in the root window's
    // _NET_ACTIVE_WINDOW, which KWin keeps at None while a Wayland window is active.
    bool x11WindowActive();
    // Whether CLIPBOARD's owner lists `type` among its TARGETS, asking until it does or `bound` passes.
    bool offersTypeWithin(const std::string& type, std::chrono::milliseconds bound);

  private:
    XWaylandClipboardProbe(HeldX11Connection display, unsigned long window);
    bool offersType(unsigned long wanted, std::chrono::steady_clock::time_point deadline);

    HeldX11Connection display_;
    unsigned long window_ = 0;  // ours, unmapped: receives the answers
};

}  // namespace varnel::wayland
