// The clipboard of a Wayland session through the data-control protocol, without focus.
//
// As on X11, all protocol work happens on a worker thread with a wl_display connection of its own: the
// worker follows the seat's selection events, reads the new text once per change through a pipe
// (non-blocking, each read bounded), keeps the result as a snapshot and serves our own text to other
// clients. hasText/getText answer from the snapshot at once; the change count moves only once the
// snapshot for a change is complete. setText/clear wait (bounded) for the compositor to confirm the
// change. Our own offers carry a private MIME type, so the worker recognises them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clipboard.h"
#include "platform/EventPump.h"
#include "platform/wayland/XWaylandClipboardProbe.h"

namespace varnel {

class WaylandClipboard : public Clipboard {
  public:
    // Connects to $WAYLAND_DISPLAY; null with the reason in *why when the compositor offers no
    // data-control or no seat. Waits (bounded) for the text already on the clipboard.
    static std::unique_ptr<WaylandClipboard> open(EventPump& pump, std::string* why);
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    Status clear() override;
    Result<bool> hasText() override;
    Result<std::u16string> getText() override;
    std::uint64_t changeCount() override;
    Status setText(const std::u16string& text) override;
    // The data-control protocol does not say which client asks for our text, so any request made
    // after the paste key counts as the target's (a clipboard manager's read of the new text, made
    // before the key, no longer does). Where an X11 window on XWayland is active, it returns once X11's
    // CLIPBOARD offers the text too (or fails when it does not within a bound).
    Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) override;
    Status waitUntilPasted(std::chrono::milliseconds bound) override;
    void endPaste() override;
    // Likewise any new owner counts as the target's copy.
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) override;
    // Offers the text on the primary selection too, remembering what it held; restorePrimary gives
    // that back.
    Status offerOnPrimary(const std::u16string& text);
    void restorePrimary();

    class Worker;  // defined in the implementation
    class Key {    // only open() constructs
        friend class WaylandClipboard;
        Key() = default;
    };
    WaylandClipboard(Key, EventPump& pump, std::unique_ptr<Worker> worker);

  private:
    // Where an X11 window on XWayland is active: waits (bounded) until X11's CLIPBOARD offers our
    // latest text, which KWin passes on only a moment after the Wayland clipboard took it.
    Status waitUntilOfferedOnX11();

    EventPump& pump_;
    std::unique_ptr<Worker> worker_;
    std::uint64_t foreignBaseline_ = 0;
    std::uint64_t servedBaseline_ = 0;
    bool primaryOffered_ = false;  // the paste under way put its text on the primary selection too
    std::unique_ptr<wayland::XWaylandClipboardProbe> xwayland_;  // opened at the first paste
};

}  // namespace varnel
