// The CLIPBOARD selection (and PRIMARY during a paste) on X11, without Qt.
//
// All X work happens on a worker thread with its own connection, so that the user-interface thread never
// waits for another client: the worker follows owner changes through XFixes, fetches the new owner's text
// once per change (each request bounded), keeps the result as a snapshot, and serves our own text to other
// clients. hasText/getText answer from the snapshot at once; setText/clear wait (bounded) for the worker to
// confirm the ownership change with the X server.
//
// offerOnPrimary first fetches what PRIMARY holds, with the calling thread waiting. When a window of this
// very process owns PRIMARY (a toolkit text box with a selection), its owner cannot answer during that wait:
// the fetch runs into its bound (300 ms) and restorePrimary then releases PRIMARY instead of restoring it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clipboard.h"
#include "platform/EventPump.h"

namespace varnel {

class X11Clipboard : public Clipboard {
  public:
    // A requestor that leaves an INCR chunk of our text untaken this long loses the transfer.
    static constexpr std::chrono::milliseconds DefaultTransferIdleBound{5000};

    // Opens a connection to $DISPLAY and starts the worker; waits (bounded) for the text that is already on
    // the clipboard. Null, with the reason in *why, when there is no display or no XFixes.
    static std::unique_ptr<X11Clipboard> open(
        EventPump& pump, std::string* why,
        std::chrono::milliseconds transferIdleBound = DefaultTransferIdleBound);
    ~X11Clipboard() override;

    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    Status clear() override;
    Result<bool> hasText() override;
    Result<std::u16string> getText() override;
    Result<SharedText> getSharedText() override;
    std::uint64_t changeCount() override { return counters().generation; }
    Status setText(const std::u16string& text) override;
    Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) override;
    Status waitUntilPasted(std::chrono::milliseconds bound) override;
    void endPaste() override;
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) override;
    void setChangeListener(std::function<void()> listener) override;
    // Where a clipboard manager runs, it takes the text we own (about a second at most).
    Status handOverAtExit() override;

    // The steps of a paste, for offerForPaste and the backend's tests. Only requests from the
    // application that owns `target` count as the paste.
    Status expectPasteFrom(WindowHandle target);
    // Waits until the expected paster has fetched the text and gone quiet.
    Status waitForPasteRequest(std::chrono::milliseconds bound);
    // Offers the text on PRIMARY too, remembering what PRIMARY held; restorePrimary gives it back.
    Status offerOnPrimary(const std::u16string& text);
    Status restorePrimary();

    // What the worker has done so far, for diagnostics and tests.
    struct Counters {
        std::uint64_t generation = 0;          // changes of the clipboard contents seen (ours or others')
        std::uint64_t conversionRequests = 0;  // ConvertSelection requests sent to other clients
        std::uint64_t xErrors = 0;             // X errors on the worker's connection (none is fatal)
        std::uint64_t transfers = 0;           // INCR transfers of our text under way
    };
    Counters counters() const;

    class Worker;  // defined in X11ClipboardWorker.h
    class Key {    // only open() constructs
        friend class X11Clipboard;
        Key() = default;
    };
    X11Clipboard(Key, EventPump& pump, std::unique_ptr<Worker> worker);

  private:
    EventPump& pump_;
    std::unique_ptr<Worker> worker_;
    // Foreign ownership changes seen by our last clear() or setText(): a copy key sent right after
    // either may be answered before waitForCopyFrom() starts, and still counts.
    std::uint64_t foreignBaseline_ = 0;
    bool primaryOffered_ = false;  // the paste under way put its text on PRIMARY too
};

}  // namespace varnel
