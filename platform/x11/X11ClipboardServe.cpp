#include "platform/x11/X11ClipboardWorker.h"

#include "base/Utf16.h"
#include "base/Utf8.h"

#include <algorithm>
#include <string_view>

namespace varnel {

namespace {

// STRING is Latin-1; what it cannot carry becomes '?'.
std::string utf16ToLatin1(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const CodePointAt at = DecodeUtf16At(in, i);  // one character, one '?'
        out.push_back(at.cp <= 0xFF ? static_cast<char>(at.cp) : '?');
        i += at.units;
    }
    return out;
}

// X timestamps are 32-bit milliseconds that wrap about every 49.7 days: a is at or after b when it is less
// than half the range ahead of b.
bool timeAtOrAfter(Time a, Time b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)) >= 0;
}

}  // namespace

// ---- our own text ---------------------------------------------------------------------------------------

Status X11Clipboard::Worker::takeOwnership(int sel, std::shared_ptr<const std::u16string> text) {
    const auto serverNow = serverTime();
    if (!serverNow) {
        return Status::failure("the X server did not give us a timestamp in time");
    }
    const Time time = *serverNow;
    // Encoded before the selection is taken: a text too large for memory leaves everything as it was.
    auto utf8 = text ? std::make_shared<const std::string>(EncodeUtf8(*text)) : nullptr;
    XSetSelectionOwner(display_, atoms_.selection[sel], window_, time);
    // The server refuses silently (for instance a timestamp older than the current owner's): ask it.
    if (XGetSelectionOwner(display_, atoms_.selection[sel]) != window_) {
        return Status::failure("the X server did not give us the selection");
    }
    Owned& owned = owned_[sel];
    owned.active = true;
    owned.since = time;
    owned.utf8 = std::move(utf8);
    owned.latin1.reset();
    owned.text = std::move(text);
    return Status::success();
}

Status X11Clipboard::Worker::releaseOwnership(int sel) {
    const auto serverNow = serverTime();
    if (!serverNow) {
        return Status::failure("the X server did not give us a timestamp in time");
    }
    const Time time = *serverNow;
    XSetSelectionOwner(display_, atoms_.selection[sel], None, time);
    owned_[sel] = Owned{};
    if (sel == SelClipboard) {
        releasedAt_ = time;
    }
    if (XGetSelectionOwner(display_, atoms_.selection[sel]) != None) {
        return Status::failure("the X server did not clear the selection");
    }
    return Status::success();
}

void X11Clipboard::Worker::doSetText(std::shared_ptr<const std::u16string> shared, const Done& done) {
    if (!done.commit()) {
        return;
    }
    Status status = takeOwnership(SelClipboard, shared);
    if (status.ok()) {
        cancelFetch(SelClipboard);
        forgetPaster();
        std::lock_guard lock(mutex_);
        ++snap_.generation;
        snap_.hasText = true;
        snap_.failed = false;
        snap_.fetching = false;
        snap_.text = std::move(shared);
    }
    done(std::move(status));
}

// Requests from now on are nobody's paste, and transfers still running no longer hold a paste up.
void X11Clipboard::Worker::forgetPaster() {
    paster_.reset();
    for (Transfer& transfer : transfers_) {
        transfer.forPaste = false;
    }
    std::lock_guard lock(mutex_);
    snap_.pasteRequests = 0;
    snap_.pasteTransfers = 0;
}

// The clipboard managers' convention: we ask CLIPBOARD_MANAGER to convert to SAVE_TARGETS; its owner
// then fetches CLIPBOARD from us like any requestor (served by the loop as usual), and its answer to
// our request says it has the text.
void X11Clipboard::Worker::doHandOver(const Done& done) {
    if (handOver_) {
        finishHandOver(Status::failure("a later hand-over took its place"));
    }
    const Owned& owned = owned_[SelClipboard];
    if (!owned.active || !owned.text ||
        XGetSelectionOwner(display_, atoms_.selection[SelClipboard]) != window_) {
        done(Status::success());  // no text of ours on the clipboard: nothing to keep
        return;
    }
    if (XGetSelectionOwner(display_, atoms_.clipboardManager) == None) {
        done(Status::failure("no clipboard manager runs"));
        return;
    }
    const auto time = serverTime();
    if (!time) {
        done(Status::failure("the X server did not give us a timestamp in time"));
        return;
    }
    XDeleteProperty(display_, window_, atoms_.handOverProperty);
    XConvertSelection(display_, atoms_.clipboardManager, atoms_.saveTargets, atoms_.handOverProperty, window_,
                      *time);
    XFlush(display_);
    handOver_ = HandOver{done, Clock::now() + HandOverBound};
}

void X11Clipboard::Worker::finishHandOver(Status status) {
    XDeleteProperty(display_, window_, atoms_.handOverProperty);
    const Done done = std::move(handOver_->done);
    handOver_.reset();
    done(std::move(status));
}

void X11Clipboard::Worker::doExpectPaste(Window target, const Done& done) {
    forgetPaster();
    paster_ = clientOfWindow(target);
    done(Status::success());
}

void X11Clipboard::Worker::doClear(const Done& done) {
    if (!done.commit()) {
        return;
    }
    cancelFetch(SelClipboard);
    // Cleared by owning it with nothing offered, not by giving it up: a clipboard manager takes a
    // selection that has no owner over with the text it saved last, and that can land after the text
    // we set next.
    Status status = takeOwnership(SelClipboard, nullptr);
    {
        std::lock_guard lock(mutex_);
        ++snap_.generation;
        snap_.hasText = false;
        snap_.failed = false;
        snap_.fetching = false;
        snap_.text.reset();
    }
    done(std::move(status));
}

void X11Clipboard::Worker::doOfferOnPrimary(const std::u16string& text, const Done& done) {
    auto offer = [this, done, shared = std::make_shared<const std::u16string>(text)] {
        if (!done.commit()) {
            return;
        }
        Status status = takeOwnership(SelPrimary, shared);
        if (status.ok()) {
            primaryRestorable_ = true;
            primaryOffered_ = true;
        }
        done(std::move(status));
    };
    if (primaryRestorable_) {
        offer();  // still offering; what PRIMARY held before the first offer is what comes back
        return;
    }
    if (owned_[SelPrimary].active) {
        primaryBefore_ = owned_[SelPrimary].text;
        offer();
        return;
    }
    primaryBefore_.reset();
    const auto time = serverTime();
    if (XGetSelectionOwner(display_, XA_PRIMARY) == None || !time) {
        offer();
        return;
    }
    startFetch(SelPrimary, *time, [this, offer, done](FetchResult result) {
        if (result.outcome == Outcome::Cancelled) {
            done(Status::failure("the clipboard worker stopped"));
            return;
        }
        if (result.outcome == Outcome::Text) {
            primaryBefore_ = std::make_shared<const std::u16string>(std::move(result.text));
        }
        offer();
    });
}

void X11Clipboard::Worker::doRestorePrimary(const Done& done) {
    primaryOffered_ = false;
    if (!primaryRestorable_) {
        done(Status::success());
        return;
    }
    if (!done.commit()) {
        return;
    }
    primaryRestorable_ = false;
    auto before = std::move(primaryBefore_);
    primaryBefore_.reset();
    if (!owned_[SelPrimary].active) {
        done(Status::success());  // someone selected something since: that stays
        return;
    }
    done(before ? takeOwnership(SelPrimary, std::move(before)) : releaseOwnership(SelPrimary));
}

void X11Clipboard::Worker::doInitialFetch(const Done& done) {
    const Window owner = XGetSelectionOwner(display_, atoms_.selection[SelClipboard]);
    const auto time = serverTime();
    if (owner == None || owner == window_ || !time) {
        done(Status::success());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        snap_.fetching = true;
    }
    startFetch(SelClipboard, *time, [this, done](FetchResult result) {
        applyClipboardFetch(std::move(result));
        done(Status::success());
    });
}

void X11Clipboard::Worker::onSelectionClear(const XSelectionClearEvent& event) {
    const int sel = selectionIndex(event.selection);
    if (sel < 0 || !owned_[sel].active || event.window != window_) {
        return;
    }
    // We may have taken the selection again since this event was sent.
    if (XGetSelectionOwner(display_, event.selection) == window_) {
        return;
    }
    owned_[sel] = Owned{};
}

void X11Clipboard::Worker::notePasteActivity(int transfersDelta, bool request) {
    std::lock_guard lock(mutex_);
    snap_.pasteTransfers += transfersDelta;
    if (request) {
        ++snap_.pasteRequests;
    }
    snap_.lastServed = Clock::now();
}

void X11Clipboard::Worker::serve(const XSelectionRequestEvent& request) {
    // We never ask ourselves, so such a request comes from another client that named our window (or
    // forged the event). Serving it would write into our window and watch it for chunks: ignored, and
    // not answered either, since an answer would land among the answers our own fetches wait for.
    if (isOwnWindow(request.requestor)) {
        return;
    }
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = display_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;  // refused unless set below

    const int sel = selectionIndex(request.selection);
    // Obsolete clients name no property: the target's name is used instead.
    const Atom property = request.property == None ? request.target : request.property;
    const bool ours = sel >= 0 && owned_[sel].active && request.owner == window_ &&
                      (request.time == CurrentTime || timeAtOrAfter(request.time, owned_[sel].since));
    if (ours) {
        Owned& owned = owned_[sel];
        const Atom target = request.target;
        if (target == atoms_.targets) {
            const long list[] = {static_cast<long>(atoms_.targets), static_cast<long>(atoms_.timestamp),
                                 static_cast<long>(atoms_.utf8), static_cast<long>(XA_STRING),
                                 static_cast<long>(atoms_.text)};
            const int count = owned.text ? static_cast<int>(std::size(list)) : 2;  // cleared: no text
            XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(list), count);
            reply.property = property;
        } else if (target == atoms_.timestamp) {
            const long time = static_cast<long>(owned.since);
            XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&time), 1);
            reply.property = property;
        } else if (owned.text && (target == atoms_.utf8 || target == atoms_.text || target == XA_STRING)) {
            serveText(request, sel, property);
            reply.property = property;
        }
        // MULTIPLE and every other target: refused.
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(display_);
}

// Our text in the encoding the request names (UTF-8 for UTF8_STRING and TEXT), in one property or in INCR
// chunks.
void X11Clipboard::Worker::serveText(const XSelectionRequestEvent& request, int sel, Atom property) {
    Owned& owned = owned_[sel];
    const Atom target = request.target;
    std::shared_ptr<const std::string> data = owned.utf8;
    Atom type = atoms_.utf8;
    if (target == XA_STRING) {
        if (!owned.latin1) {
            owned.latin1 = std::make_shared<const std::string>(utf16ToLatin1(*owned.text));
        }
        data = owned.latin1;
        type = XA_STRING;
    }
    // Only the paster's own requests are the paste; a clipboard manager reading along is served
    // like anyone else.
    const bool forPaste =
        (sel == SelClipboard || primaryOffered_) && paster_ && clientOf(request.requestor) == *paster_;
    if (data->size() > chunkBytes_) {
        // Too large for one property: INCR, one chunk each time the requestor deletes the property.
        // A transfer is known by its window and property; a new request for the same pair
        // replaces the old transfer.
        if (const auto same = findTransfer(request.requestor, property)) {
            endTransfer(*same, EndReason::Replaced);
        }
        if (!watchesRequestor(request.requestor)) {
            XSelectInput(display_, request.requestor, PropertyChangeMask | StructureNotifyMask);
        }
        const long size = static_cast<long>(data->size());
        XChangeProperty(display_, request.requestor, property, atoms_.incr, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
        transfers_.push_back(Transfer{request.requestor, property, type, std::move(data), 0, forPaste,
                                      Clock::now() + transferIdleBound_});
        transferCount_ = transfers_.size();
        if (forPaste) {
            notePasteActivity(1, true);
        }
    } else {
        XChangeProperty(display_, request.requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data->data()), static_cast<int>(data->size()));
        if (forPaste) {
            notePasteActivity(0, true);
        }
    }
}

// Writes the next chunk (an empty one at the end). False when the transfer is complete.
bool X11Clipboard::Worker::sendNextChunk(Transfer& transfer) {
    const std::size_t left = transfer.data->size() - transfer.offset;
    const std::size_t length = std::min(left, chunkBytes_);
    XChangeProperty(display_, transfer.requestor, transfer.property, transfer.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(transfer.data->data() + transfer.offset),
                    static_cast<int>(length));
    transfer.offset += length;
    transfer.deadline = Clock::now() + transferIdleBound_;
    if (transfer.forPaste) {
        notePasteActivity(0, false);
    }
    return length != 0;
}

std::optional<std::size_t> X11Clipboard::Worker::findTransfer(Window requestor, Atom property) const {
    for (std::size_t i = 0; i < transfers_.size(); ++i) {
        if (transfers_[i].requestor == requestor &&
            (property == None || transfers_[i].property == property)) {
            return i;
        }
    }
    return std::nullopt;
}

bool X11Clipboard::Worker::watchesRequestor(Window requestor) const {
    return std::any_of(transfers_.begin(), transfers_.end(),
                       [&](const Transfer& t) { return t.requestor == requestor; });
}

// The events of a requestor's window are selected on our connection only for its transfers: the last one
// to end takes them back, unless the window is gone or a new transfer to it follows at once.
void X11Clipboard::Worker::endTransfer(std::size_t index, EndReason reason) {
    const Transfer transfer = std::move(transfers_[index]);
    transfers_.erase(transfers_.begin() + static_cast<std::ptrdiff_t>(index));
    transferCount_ = transfers_.size();
    if (reason == EndReason::Done && !watchesRequestor(transfer.requestor)) {
        XSelectInput(display_, transfer.requestor, NoEventMask);
    }
    if (transfer.forPaste) {
        notePasteActivity(-1, false);
    }
}

void X11Clipboard::Worker::onDestroyNotify(const XDestroyWindowEvent& event) {
    while (const auto index = findTransfer(event.window)) {
        endTransfer(*index, EndReason::WindowGone);
    }
}

}  // namespace varnel
