#include "platform/x11/X11ClipboardWorker.h"

#include "platform/x11/X11ClientIds.h"
#include "platform/x11/X11Connection.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace varnel {

namespace {

struct PropertyWaitArgs {
    Window window;
    Atom atom;
};

int isPropertyNotify(Display*, XEvent* event, XPointer arg) {
    const auto* want = reinterpret_cast<const PropertyWaitArgs*>(arg);
    return event->type == PropertyNotify && event->xproperty.window == want->window &&
           event->xproperty.atom == want->atom;
}

}  // namespace

bool X11Clipboard::Worker::start(std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    display_ = OpenX11Connection([this] { stop_ = true; });  // a lost connection ends the loop
    if (display_ == nullptr) {
        return fail("cannot open the X display");
    }
    errors_ = std::make_unique<X11ErrorLog>(display_);
    int fixesErrorBase = 0;
    if (!XFixesQueryExtension(display_, &fixesEventBase_, &fixesErrorBase)) {
        return fail("the X server has no XFixes extension");
    }
    int major = 0, minor = 0;
    XFixesQueryVersion(display_, &major, &minor);

    const Window root = DefaultRootWindow(display_);
    window_ = XCreateSimpleWindow(display_, root, -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display_, window_, PropertyChangeMask);
    XStoreName(display_, window_, "varnel clipboard");

    atoms_.selection[SelClipboard] = XInternAtom(display_, "CLIPBOARD", False);
    atoms_.selection[SelPrimary] = XA_PRIMARY;
    atoms_.targets = XInternAtom(display_, "TARGETS", False);
    atoms_.timestamp = XInternAtom(display_, "TIMESTAMP", False);
    atoms_.incr = XInternAtom(display_, "INCR", False);
    atoms_.utf8 = XInternAtom(display_, "UTF8_STRING", False);
    atoms_.text = XInternAtom(display_, "TEXT", False);
    atoms_.compoundText = XInternAtom(display_, "COMPOUND_TEXT", False);
    atoms_.mimeUtf8 = XInternAtom(display_, "text/plain;charset=utf-8", False);
    atoms_.timeProperty = XInternAtom(display_, "_VARNEL_TIME", False);
    atoms_.wmState = XInternAtom(display_, "WM_STATE", False);
    atoms_.clipboardManager = XInternAtom(display_, "CLIPBOARD_MANAGER", False);
    atoms_.saveTargets = XInternAtom(display_, "SAVE_TARGETS", False);
    atoms_.handOverProperty = XInternAtom(display_, "_VARNEL_HAND_OVER", False);
    // Every client gets the same mask from the server; the bits outside it name the client.
    resourceMask_ = X11ResourceIdMask(display_);
    for (std::size_t i = 0; i < RequestPropertyCount; ++i) {
        const std::string name = "_VARNEL_SELECTION_" + std::to_string(i);
        atoms_.requestProperty[i] = XInternAtom(display_, name.c_str(), False);
    }

    // Without BIG-REQUESTS a request holds at most 256 KB; keep every chunk well below the limit.
    const long maxRequestBytes = XMaxRequestSize(display_) * 4;
    chunkBytes_ = std::min<std::size_t>(IncrChunkBytes, static_cast<std::size_t>(maxRequestBytes) - 1024);

    XFixesSelectSelectionInput(display_, window_, atoms_.selection[SelClipboard],
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    XSync(display_, False);

    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return fail("cannot create the clipboard worker's wake-up pipe");
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    thread_ = std::thread([this] { run(); });
    return true;
}

void X11Clipboard::Worker::shutDown() {
    if (thread_.joinable()) {
        stop_ = true;
        const char byte = 0;
        [[maybe_unused]] const auto written = write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    if (display_ != nullptr) {
        if (window_ != None) {
            XDestroyWindow(display_, window_);
        }
        errors_.reset();
        XCloseDisplay(display_);
        display_ = nullptr;
    }
    for (int* fd : {&wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

Status X11Clipboard::Worker::call(std::function<void(Worker&, Done)> work, milliseconds bound) {
    if (stop_) {
        return Status::failure("the clipboard worker has stopped (the X connection was lost)");
    }
    auto reply = std::make_shared<Done::State>();
    Done done(reply);
    {
        std::lock_guard lock(mutex_);
        commands_.push_back([work = std::move(work), done](Worker& w) {
            if (done.abandoned()) {
                done(Status::failure("the caller stopped waiting"));
                return;
            }
            if (!TriedWithinMemory([&] { work(w, done); })) {
                done(Status::failure("not enough memory for the text"));
            }
        });
    }
    const char byte = 0;
    [[maybe_unused]] const auto written = write(wakeWrite_, &byte, 1);

    std::unique_lock lock(reply->mutex);
    if (!reply->cv.wait_for(lock, bound, [&] { return reply->status || reply->committed; })) {
        reply->abandoned = true;  // whatever has not begun to take effect never will
        return Status::failure("the clipboard worker did not finish in time");
    }
    // Begun: its outcome is what the caller must learn.
    if (!reply->cv.wait_for(lock, CommitBound, [&] { return reply->status.has_value(); })) {
        reply->abandoned = true;
        return Status::failure("the X server did not answer in time");
    }
    return *reply->status;
}

// ---- worker loop ----------------------------------------------------------------------------------------

void X11Clipboard::Worker::run() {
    const int xfd = ConnectionNumber(display_);
    while (!stop_) {
        runCommands();
        bool busy = false;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            withinMemory([&] { handle(event); });
            busy = true;
        }
        withinMemory([&] { busy = expireDeadlines() || busy; });
        if (busy) {
            continue;  // handlers may have queued events or sent requests; look again before sleeping
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        poll(fds, 2, pollTimeoutMs());
        if (fds[1].revents & POLLIN) {
            char buffer[64];
            while (read(wakeRead_, buffer, sizeof buffer) > 0) {
            }
        }
    }
    for (int sel = 0; sel < SelCount; ++sel) {
        cancelFetch(sel);
    }
}

void X11Clipboard::Worker::runCommands() {
    for (;;) {
        std::function<void(Worker&)> command;
        {
            std::lock_guard lock(mutex_);
            if (commands_.empty()) {
                return;
            }
            command = std::move(commands_.front());
            commands_.pop_front();
        }
        withinMemory([&] { command(*this); });
        XFlush(display_);
    }
}

int X11Clipboard::Worker::pollTimeoutMs() const {
    std::optional<Clock::time_point> next;
    auto consider = [&next](Clock::time_point t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    for (const auto& fetch : fetch_) {
        if (fetch) {
            consider(fetch->deadline);
        }
    }
    for (const auto& transfer : transfers_) {
        consider(transfer.deadline);
    }
    if (handOver_) {
        consider(handOver_->deadline);
    }
    if (!next) {
        return -1;  // nothing pending: sleep until the server or the user-interface thread wakes us
    }
    const auto left = std::chrono::ceil<milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

bool X11Clipboard::Worker::expireDeadlines() {
    const auto now = Clock::now();
    bool any = false;
    if (handOver_ && handOver_->deadline <= now) {
        finishHandOver(Status::failure("the clipboard manager did not take the text in time"));
        any = true;
    }
    for (int sel = 0; sel < SelCount; ++sel) {
        if (fetch_[sel] && fetch_[sel]->deadline <= now) {
            finishFetch(sel, FetchResult{Outcome::Failed, {}});  // the owner did not answer in time
            any = true;
        }
    }
    for (std::size_t i = transfers_.size(); i-- > 0;) {
        if (transfers_[i].deadline <= now) {
            endTransfer(i, EndReason::Done);
            any = true;
        }
    }
    if (any) {
        XFlush(display_);
    }
    return any;
}

void X11Clipboard::Worker::handle(XEvent& event) {
    if (event.type == fixesEventBase_ + XFixesSelectionNotify) {
        onOwnerChange(reinterpret_cast<const XFixesSelectionNotifyEvent&>(event));
        return;
    }
    switch (event.type) {
        case SelectionRequest:
            serve(event.xselectionrequest);
            break;
        case SelectionClear:
            onSelectionClear(event.xselectionclear);
            break;
        case SelectionNotify:
            onSelectionNotify(event.xselection);
            break;
        case PropertyNotify:
            onPropertyNotify(event.xproperty);
            break;
        case DestroyNotify:
            onDestroyNotify(event.xdestroywindow);
            break;
        default:
            break;
    }
}

int X11Clipboard::Worker::selectionIndex(Atom selection) const {
    for (int sel = 0; sel < SelCount; ++sel) {
        if (atoms_.selection[sel] == selection) {
            return sel;
        }
    }
    return -1;
}

// A timestamp the server will accept: the time of a property change on our own window. Nullopt when the
// server did not report the change within its bound.
std::optional<Time> X11Clipboard::Worker::serverTime() {
    XChangeProperty(display_, window_, atoms_.timeProperty, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XFlush(display_);
    PropertyWaitArgs want{window_, atoms_.timeProperty};
    const auto deadline = Clock::now() + ServerTimeBound;
    for (;;) {
        XEvent event;
        if (XCheckIfEvent(display_, &event, isPropertyNotify, reinterpret_cast<XPointer>(&want))) {
            return event.xproperty.time;
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return std::nullopt;
        }
        pollfd fd{ConnectionNumber(display_), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left));
    }
}

void X11Clipboard::Worker::notifyListener() {
    std::lock_guard lock(listenerMutex_);
    if (listener_) {
        listener_();
    }
}

// The top-level window a window manager reports is the application's own window (it carries WM_STATE);
// without such a manager it may be a frame of the manager's, with the application's window inside.
XID X11Clipboard::Worker::clientOfWindow(Window target) {
    auto hasWmState = [this](Window w) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* raw = nullptr;
        const X11ErrorTrap trap(*errors_);
        const int rc = XGetWindowProperty(display_, w, atoms_.wmState, 0, 0, False, AnyPropertyType, &type,
                                          &format, &items, &after, &raw);
        if (raw != nullptr) {
            XFree(raw);
        }
        return rc == Success && !trap.caught() && type != None;
    };
    std::vector<Window> level{target};
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (const Window w : level) {
            if (hasWmState(w)) {
                return clientOf(w);
            }
            Window root = None, parent = None, *children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(display_, w, &root, &parent, &children, &count) != 0 && children != nullptr) {
                next.insert(next.end(), children, children + std::min(count, 64u));
                XFree(children);
            }
        }
        level = std::move(next);
    }
    return clientOf(target);
}

}  // namespace varnel
