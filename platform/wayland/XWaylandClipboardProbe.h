// What an X11 window on XWayland would be offered by a paste. KWin passes a new Wayland clipboard on to
// its XWayland only while an X11 window is active, and only a moment later: a paste key that reaches
// the X11 window sooner finds the old text, or none, on X11's CLIPBOARD.
//
// An XCB connection of its own: a lost X server only makes its answers fail, and every wait for an
// answer is bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace varnel::wayland {

class XWaylandClipboardProbe {
  public:
    // Null when DISPLAY is not set or its display does not answer.
    static std::unique_ptr<XWaylandClipboardProbe> open();
    ~XWaylandClipboardProbe();
    XWaylandClipboardProbe(const XWaylandClipboardProbe&) = delete;
    XWaylandClipboardProbe& operator=(const XWaylandClipboardProbe&) = delete;

    // Whether the active window is an X11 one: the window manager names it in the root window's
    // _NET_ACTIVE_WINDOW, which KWin keeps at None while a Wayland window is active.
    bool x11WindowActive();
    // Whether CLIPBOARD's owner lists `type` among its TARGETS, asking until it does or `bound` passes.
    bool offersTypeWithin(const std::string& type, std::chrono::milliseconds bound);

    struct Atoms {
        std::uint32_t clipboard = 0, targets = 0, activeWindow = 0, property = 0;
    };

  private:
    XWaylandClipboardProbe(xcb_connection_t* connection, std::uint32_t root, std::uint32_t window,
                           Atoms atoms);
    bool offersType(std::uint32_t wanted, std::chrono::steady_clock::time_point deadline);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    std::uint32_t window_;  // ours, unmapped: receives the answers
    Atoms atoms_;
};

}  // namespace varnel::wayland
