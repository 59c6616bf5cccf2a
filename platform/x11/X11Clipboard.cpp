#include "platform/x11/X11Clipboard.h"

#include "platform/x11/X11ClipboardWorker.h"

#include <algorithm>
#include <thread>

namespace varnel {

// ---- the user-interface side ---------------------------------------------------------------------------

std::unique_ptr<X11Clipboard> X11Clipboard::open(EventPump& pump, std::string* why,
                                                 milliseconds transferIdleBound) {
    auto worker = std::make_unique<Worker>(transferIdleBound);
    if (!worker->start(why)) {
        return nullptr;
    }
    // Take in the text already on the clipboard, so that the first look at it sees that text.
    IgnoreFailure(
        worker->call([](Worker& w, Worker::Done done) { w.doInitialFetch(done); }, InitialFetchBound),
        "without it the first look finds no text, as before anything was copied");
    return std::make_unique<X11Clipboard>(Key{}, pump, std::move(worker));
}

X11Clipboard::X11Clipboard(Key, EventPump& pump, std::unique_ptr<Worker> worker)
    : pump_(pump), worker_(std::move(worker)) {}

X11Clipboard::~X11Clipboard() = default;

X11Clipboard::Counters X11Clipboard::counters() const {
    return worker_->counters();
}

Result<bool> X11Clipboard::hasText() {
    const auto snap = worker_->snapshot();
    if (snap.failed) {
        return Result<bool>::failure("the clipboard owner did not hand over its text");
    }
    return Result<bool>::success(snap.hasText);
}

Result<std::u16string> X11Clipboard::getText() {
    const auto snap = worker_->snapshot();
    if (snap.failed) {
        return Result<std::u16string>::failure("the clipboard owner did not hand over its text");
    }
    if (!snap.hasText || !snap.text) {
        return Result<std::u16string>::failure("the clipboard holds no text");
    }
    std::u16string copy;
    if (!TriedWithinMemory([&] { copy = *snap.text; })) {
        return Result<std::u16string>::failure("not enough memory for a copy of the clipboard's text");
    }
    return Result<std::u16string>::success(std::move(copy));
}

Result<SharedText> X11Clipboard::getSharedText() {
    const auto snap = worker_->snapshot();
    if (snap.failed) {
        return Result<SharedText>::failure("the clipboard owner did not hand over its text");
    }
    if (!snap.hasText || !snap.text) {
        return Result<SharedText>::failure("the clipboard holds no text");
    }
    return Result<SharedText>::success(SharedText(snap.text));
}

Status X11Clipboard::setText(const std::u16string& text) {
    std::shared_ptr<const std::u16string> shared;  // the only copy of a possibly large text
    if (!TriedWithinMemory([&] { shared = std::make_shared<const std::u16string>(text); })) {
        return Status::failure("not enough memory for the text");
    }
    Status status =
        worker_->call([shared](Worker& w, Worker::Done done) { w.doSetText(shared, done); }, CommandBound);
    foreignBaseline_ = worker_->snapshot().foreignChanges;
    return status;
}

Status X11Clipboard::clear() {
    Status status = worker_->call([](Worker& w, Worker::Done done) { w.doClear(done); }, CommandBound);
    foreignBaseline_ = worker_->snapshot().foreignChanges;
    return status;
}

Status X11Clipboard::offerOnPrimary(const std::u16string& text) {
    return worker_->call([text](Worker& w, Worker::Done done) { w.doOfferOnPrimary(text, done); },
                         PrimaryOfferBound);
}

Status X11Clipboard::restorePrimary() {
    return worker_->call([](Worker& w, Worker::Done done) { w.doRestorePrimary(done); }, CommandBound);
}

Status X11Clipboard::expectPasteFrom(WindowHandle target) {
    return worker_->call([target](Worker& w, Worker::Done done) { w.doExpectPaste(target, done); },
                         CommandBound);
}

// Terminals paste PRIMARY on Shift+Insert, so a slot's text goes there too. A converted selection
// does not: PRIMARY is the target's own selection, the very text being replaced.
Status X11Clipboard::offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) {
    IgnoreFailure(clear(), "the text set next replaces whatever is left");
    if (Status set = setText(text); !set) {
        return set;
    }
    primaryOffered_ = kind == PasteKind::SlotText && offerOnPrimary(text).ok();
    // When the target's application cannot be named, the wait runs to its bound: slow, but it never
    // changes the clipboard under the paste.
    IgnoreFailure(expectPasteFrom(target), "the wait then runs to its bound");
    return Status::success();
}

Status X11Clipboard::waitUntilPasted(std::chrono::milliseconds bound) {
    return waitForPasteRequest(bound);
}

void X11Clipboard::endPaste() {
    if (primaryOffered_) {
        primaryOffered_ = false;
        IgnoreFailure(restorePrimary(), "the primary selection then keeps the pasted text until it changes");
    }
}

Status X11Clipboard::handOverAtExit() {
    return worker_->call([](Worker& w, Worker::Done done) { w.doHandOver(done); },
                         HandOverBound + CommandBound);
}

void X11Clipboard::setChangeListener(std::function<void()> listener) {
    worker_->setListener(std::move(listener));
}

Status X11Clipboard::waitForPasteRequest(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        pump_.pumpOnce();
        const auto snap = worker_->snapshot();
        const auto now = Clock::now();
        if (snap.pasteRequests > 0 && snap.pasteTransfers == 0 && now - snap.lastServed >= PasteQuietPeriod) {
            return Status::success();
        }
        if (now >= deadline) {
            return Status::failure("no application asked for the pasted text in time");
        }
        std::this_thread::sleep_for(PumpInterval);
    }
}

Status X11Clipboard::waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    const auto start = foreignBaseline_;
    auto copier = std::make_shared<std::atomic<XID>>(worker_->clientOf(target));
    IgnoreFailure(worker_->call(
                      [target, copier](Worker& w, Worker::Done done) {
                          copier->store(w.clientOfWindow(target));
                          done(Status::success());
                      },
                      CommandBound),
                  "the client known before is asked for then");
    const XID client = copier->load();
    for (;;) {
        pump_.pumpOnce();
        const auto snap = worker_->snapshot();
        // The latest owner must be the target's application: a clipboard manager that puts its last text
        // back after our clear() is not the copy, and neither is anything that came after the copy.
        if (snap.foreignChanges > start && !snap.fetching && snap.foreignOwnerClient == client) {
            return Status::success();
        }
        if (Clock::now() >= deadline) {
            return Status::failure("no application took the clipboard in time");
        }
        std::this_thread::sleep_for(PumpInterval);
    }
}

}  // namespace varnel
