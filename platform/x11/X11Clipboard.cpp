#include "platform/x11/X11Clipboard.h"

#include "core/Utf16.h"
#include "core/Utf8.h"

#include "platform/x11/X11ClientIds.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Errors.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
// Xlib spells its return type Status as a macro; ours is a class.
#undef Status

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One request to another client (a conversion, or the wait for the next INCR chunk) may take this long.
constexpr milliseconds FetchStepBound{300};
// A text sent in INCR chunks must arrive whole within this base plus the time its announced size takes at
// IncrMinimumRate; an owner slower than that is given up (and asked again only when the owner changes).
constexpr milliseconds IncrBaseBound{2000};
constexpr std::size_t IncrMinimumRate = 2u * 1024u * 1024u;  // bytes per second
// The server's answer to the property change that gives us a timestamp.
constexpr milliseconds ServerTimeBound{200};
// setText, clear and restorePrimary only talk to the X server.
constexpr milliseconds CommandBound{500};
// A call the worker has begun to apply is waited for this much longer, so that its outcome is known: its
// steps on the server are bounded by ServerTimeBound each.
constexpr milliseconds CommitBound{ServerTimeBound * 4};
// offerOnPrimary may first have to fetch what PRIMARY held.
constexpr milliseconds PrimaryOfferBound{FetchStepBound * 3 + CommandBound};
// At exit, a clipboard manager has this long to take our text (it asks for it while we wait).
constexpr milliseconds HandOverBound{1000};
// open() waits this long for the text already on the clipboard.
constexpr milliseconds InitialFetchBound{350};
// A paste is over when no further request came for this long.
constexpr milliseconds PasteQuietPeriod{40};
constexpr milliseconds PumpInterval{2};
// Texts offered by other clients larger than this are not taken in.
constexpr std::size_t MaxIncomingBytes = 64u * 1024u * 1024u;
// Our own texts larger than this go out in INCR chunks of this size. Tk reads a property in one piece of at
// most 400,000 bytes, and without BIG-REQUESTS a request cannot exceed 256 KB.
constexpr std::size_t IncrChunkBytes = 128u * 1024u;
constexpr std::size_t RequestPropertyCount = 8;

enum Sel : int { SelClipboard = 0, SelPrimary = 1, SelCount = 2 };

// ---- text encodings -----------------------------------------------------------------------------------

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string utf8ToUtf16(std::string_view in) {
    std::u16string out;
    DecodeUtf8(in, out, Utf8Errors::Replace);
    return out;
}

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

std::u16string latin1ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (const char c : in) {
        out.push_back(static_cast<unsigned char>(c));
    }
    return out;
}

// False when the work ran out of memory (a text too large for it); nothing of that escapes a thread.
template <typename F>
bool TriedWithinMemory(F&& work) {
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// ---- X errors -----------------------------------------------------------------------------------------

// Errors on a worker's connection are counted by that worker; the thread that makes a call on a display is
// the thread the error handler runs on.
struct ErrorSink {
    Display* display = nullptr;
    std::atomic<std::uint64_t>* count = nullptr;
};
thread_local ErrorSink t_errorSink;

XErrorHandler g_previousHandler = nullptr;
XErrorHandler g_defaultHandler = nullptr;

int onXError(Display* display, XErrorEvent* event) {
    if (t_errorSink.display != nullptr && t_errorSink.display == display) {
        t_errorSink.count->fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    // Another part of the program may have its own handler; Xlib's default one would end the process.
    if (g_previousHandler != nullptr && g_previousHandler != g_defaultHandler) {
        return g_previousHandler(display, event);
    }
    return 0;
}

void installErrorHandler() {
    static std::once_flag once;
    InstallQuietX11ErrorHandler();  // XInitThreads, and a handler for the program's other connections
    std::call_once(once, [] {
        // Setting no handler installs Xlib's default and returns the current one; setting that back
        // returns the default, which is never to be called.
        XErrorHandler current = XSetErrorHandler(nullptr);
        g_defaultHandler = XSetErrorHandler(current);
        g_previousHandler = XSetErrorHandler(onXError);
    });
}

struct PropertyWaitArgs {
    Window window;
    Atom atom;
};

int isPropertyNotify(Display*, XEvent* event, XPointer arg) {
    const auto* want = reinterpret_cast<const PropertyWaitArgs*>(arg);
    return event->type == PropertyNotify && event->xproperty.window == want->window &&
           event->xproperty.atom == want->atom;
}

// X timestamps are 32-bit milliseconds that wrap about every 49.7 days: a is at or after b when it is less
// than half the range ahead of b.
bool timeAtOrAfter(Time a, Time b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)) >= 0;
}

}  // namespace

// ---- the worker -----------------------------------------------------------------------------------------

class X11Clipboard::Worker {
  public:
    // The reply to one call from the user-interface thread. The caller may give up waiting; work that
    // changes anything asks commit() first and does nothing when it answers false, so a call reported
    // as failed never takes effect later.
    class Done {
      public:
        struct State {
            std::mutex mutex;
            std::condition_variable cv;
            std::optional<Status> status;
            bool abandoned = false;
            bool committed = false;
        };
        explicit Done(std::shared_ptr<State> state) : state_(std::move(state)) {}
        bool commit() const {
            std::lock_guard lock(state_->mutex);
            if (state_->abandoned) {
                return false;
            }
            state_->committed = true;
            state_->cv.notify_all();
            return true;
        }
        bool abandoned() const {
            std::lock_guard lock(state_->mutex);
            return state_->abandoned;
        }
        void operator()(Status status) const {
            std::lock_guard lock(state_->mutex);
            if (!state_->status) {
                state_->status = std::move(status);
                state_->cv.notify_all();
            }
        }

      private:
        std::shared_ptr<State> state_;
    };

    explicit Worker(milliseconds transferIdleBound) : transferIdleBound_(transferIdleBound) {}
    ~Worker() { shutDown(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    bool start(std::string* why);
    void shutDown();

    // Runs work on the worker thread and waits (bounded) until it reports through its Done.
    Status call(std::function<void(Worker&, Done)> work, milliseconds bound);

    // What the user-interface thread reads.
    struct Snapshot {
        bool hasText = false;
        bool failed = false;
        bool fetching = false;
        std::shared_ptr<const std::u16string> text;
        std::uint64_t generation = 0;
        std::uint64_t foreignChanges = 0;
        XID foreignOwnerClient = 0;       // the client that made the latest of foreignChanges
        std::uint64_t pasteRequests = 0;  // the paster's data requests answered since expectPasteFrom
        Clock::time_point lastServed;     // last request or INCR chunk served to the paster
        int pasteTransfers = 0;           // INCR transfers to the paster still running
    };
    Snapshot snapshot() const {
        std::lock_guard lock(mutex_);
        return snap_;
    }
    Counters counters() const {
        Counters c;
        {
            std::lock_guard lock(mutex_);
            c.generation = snap_.generation;
        }
        c.conversionRequests = conversions_.load();
        c.xErrors = errors_.load();
        c.transfers = transferCount_.load();
        return c;
    }

    // Worker-thread operations behind the public calls.
    void doSetText(std::shared_ptr<const std::u16string> text, const Done& done);
    void doClear(const Done& done);
    void doOfferOnPrimary(const std::u16string& text, const Done& done);
    void doRestorePrimary(const Done& done);
    void doInitialFetch(const Done& done);
    void doExpectPaste(Window target, const Done& done);
    void doHandOver(const Done& done);
    // The client that owns the window: its resource-id base.
    XID clientOf(XID id) const { return id & ~resourceMask_; }
    XID clientOfWindow(Window target);
    XID resourceMask() const { return resourceMask_; }
    void setListener(std::function<void()> listener) {
        std::lock_guard lock(listenerMutex_);
        listener_ = std::move(listener);
    }

  private:
    enum class Outcome { Text, NoText, Failed, Cancelled };
    struct FetchResult {
        Outcome outcome = Outcome::Failed;
        std::u16string text;
    };
    enum class Stage { Utf8, Targets, Fallback };
    struct Fetch {
        Time time = CurrentTime;
        Stage stage = Stage::Utf8;
        Atom target = None;
        Atom property = None;
        bool incr = false;
        Atom incrType = None;
        std::size_t received = 0;  // INCR: bytes taken in so far
        bool streaming = false;    // INCR text in UTF-8 or Latin-1, decoded chunk by chunk
        std::u16string decoded;    // what the chunks decoded to so far
        std::string data;          // the bytes, when they can only be decoded whole
        Clock::time_point deadline;
        Clock::time_point incrDeadline;  // the whole INCR transfer
        std::function<void(FetchResult)> done;
    };
    struct Owned {
        bool active = false;
        Time since = CurrentTime;
        std::shared_ptr<const std::u16string> text;
        std::shared_ptr<const std::string> utf8;
        std::shared_ptr<const std::string> latin1;  // made on the first STRING request
    };
    struct Transfer {
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        std::shared_ptr<const std::string> data;
        std::size_t offset = 0;
        bool forPaste = false;  // to the paster named by expectPasteFrom
        Clock::time_point deadline;
    };

    void run();
    void runCommands();
    // Runs work on the worker thread; when memory runs out in it (a text too large), the fetches under
    // way fail and free what they took, and the worker goes on.
    template <typename F>
    void withinMemory(F&& work) {
        if (!TriedWithinMemory(work)) {
            for (int sel = 0; sel < SelCount; ++sel) {
                finishFetch(sel, FetchResult{Outcome::Failed, {}});
            }
        }
    }
    void handle(XEvent& event);
    void onOwnerChange(const XFixesSelectionNotifyEvent& event);
    void onSelectionClear(const XSelectionClearEvent& event);
    void onSelectionNotify(const XSelectionEvent& event);
    void finishHandOver(Status status);
    void onPropertyNotify(const XPropertyEvent& event);
    void serve(const XSelectionRequestEvent& request);
    bool sendNextChunk(Transfer& transfer);
    // The transfer to this window into this property; any transfer to the window when property is None.
    std::optional<std::size_t> findTransfer(Window requestor, Atom property = None) const;
    bool watchesRequestor(Window requestor) const;
    enum class EndReason { Done, Replaced, WindowGone };
    void endTransfer(std::size_t index, EndReason reason);
    void onDestroyNotify(const XDestroyWindowEvent& event);
    // Windows made on the worker's connection: ours, whatever a request names.
    bool isOwnWindow(Window window) const { return clientOf(window) == clientOf(window_); }
    bool expireDeadlines();
    int pollTimeoutMs() const;

    std::optional<Time> serverTime();
    void notifyListener();
    void forgetPaster();
    Status takeOwnership(int sel, std::shared_ptr<const std::u16string> text);
    Status releaseOwnership(int sel);
    void startFetch(int sel, Time time, std::function<void(FetchResult)> done);
    void requestTarget(Fetch& fetch, int sel, Atom target);
    void advanceFetch(int sel, bool refused);
    void finishFetch(int sel, FetchResult result);
    void cancelFetch(int sel);
    void finishWithData(int sel, Atom type, int format, std::string data);
    void appendDecoded(Fetch& fetch, std::string chunk, bool last);
    bool isTextType(Atom type) const;
    bool readProperty(Atom property, Atom& type, int& format, std::string& data, std::vector<Atom>* atoms,
                      long* incrSize = nullptr, unsigned long* itemCount = nullptr);
    void applyClipboardFetch(FetchResult result);
    void notePasteActivity(int transfersDelta, bool request);
    int selectionIndex(Atom selection) const;

    Display* display_ = nullptr;
    Window window_ = None;
    int fixesEventBase_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> errors_{0};
    std::atomic<std::uint64_t> conversions_{0};
    std::atomic<std::uint64_t> transferCount_{0};
    const milliseconds transferIdleBound_;

    mutable std::mutex mutex_;  // guards snap_ and commands_
    Snapshot snap_;
    std::deque<std::function<void(Worker&)>> commands_;
    std::mutex listenerMutex_;  // held while the listener runs
    std::function<void()> listener_;
    XID resourceMask_ = 0;

    // Worker thread only.
    struct Atoms {
        Atom selection[SelCount] = {None, None};
        Atom targets = None, timestamp = None, incr = None, utf8 = None, text = None, compoundText = None,
             mimeUtf8 = None, timeProperty = None, wmState = None, clipboardManager = None,
             saveTargets = None, handOverProperty = None;
        std::array<Atom, RequestPropertyCount> requestProperty{};
    } atoms_;
    std::size_t nextRequestProperty_ = 0;
    std::array<Owned, SelCount> owned_;
    std::array<std::optional<Fetch>, SelCount> fetch_;
    std::vector<Transfer> transfers_;
    std::size_t chunkBytes_ = IncrChunkBytes;
    bool primaryOffered_ = false;                          // requests on PRIMARY count as the paste
    bool primaryRestorable_ = false;                       // an offer is waiting for restorePrimary
    std::shared_ptr<const std::u16string> primaryBefore_;  // what PRIMARY held before the offer, if text
    Time releasedAt_ = CurrentTime;                        // when clear() last gave up CLIPBOARD
    std::optional<XID> paster_;                            // the client whose requests are the paste
    struct HandOver {
        Done done;
        Clock::time_point deadline;
    };
    std::optional<HandOver> handOver_;  // a clipboard manager is taking our text
};

bool X11Clipboard::Worker::start(std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    installErrorHandler();
    display_ = OpenX11Connection([this] { stop_ = true; });  // a lost connection ends the loop
    if (display_ == nullptr) {
        return fail("cannot open the X display");
    }
    t_errorSink = ErrorSink{display_, &errors_};
    int fixesErrorBase = 0;
    if (!XFixesQueryExtension(display_, &fixesEventBase_, &fixesErrorBase)) {
        t_errorSink = ErrorSink{};
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
    t_errorSink = ErrorSink{};

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
        t_errorSink = ErrorSink{display_, &errors_};
        if (window_ != None) {
            XDestroyWindow(display_, window_);
        }
        XCloseDisplay(display_);
        t_errorSink = ErrorSink{};
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
    t_errorSink = ErrorSink{display_, &errors_};
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
    t_errorSink = ErrorSink{};
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
        const auto errorsBefore = errors_.load();
        const int rc = XGetWindowProperty(display_, w, atoms_.wmState, 0, 0, False, AnyPropertyType, &type,
                                          &format, &items, &after, &raw);
        if (raw != nullptr) {
            XFree(raw);
        }
        return rc == Success && errors_.load() == errorsBefore && type != None;
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

// ---- other clients' text ------------------------------------------------------------------------------

void X11Clipboard::Worker::onOwnerChange(const XFixesSelectionNotifyEvent& event) {
    if (event.selection != atoms_.selection[SelClipboard]) {
        return;
    }
    if (event.owner == window_) {
        cancelFetch(SelClipboard);  // our own setText; the snapshot already holds the text
        return;
    }
    // The server tells the old owner before anyone else, so while we still own the clipboard this event
    // is older than our ownership.
    if (owned_[SelClipboard].active) {
        return;
    }
    cancelFetch(SelClipboard);
    if (event.owner == None) {
        if (event.selection_timestamp == releasedAt_) {
            return;  // our own clear(); the snapshot already says so
        }
        {
            std::lock_guard lock(mutex_);  // the owner went away
            ++snap_.generation;
            snap_.hasText = false;
            snap_.failed = false;
            snap_.fetching = false;
            snap_.text.reset();
        }
        notifyListener();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++snap_.foreignChanges;
        snap_.foreignOwnerClient = clientOf(event.owner);
        snap_.fetching = true;
    }
    startFetch(SelClipboard, event.timestamp,
               [this](FetchResult result) { applyClipboardFetch(std::move(result)); });
}

void X11Clipboard::Worker::applyClipboardFetch(FetchResult result) {
    if (result.outcome == Outcome::Cancelled) {
        return;  // a newer owner change or our own setText/clear decides the snapshot
    }
    auto text = result.outcome == Outcome::Text
                    ? std::make_shared<const std::u16string>(std::move(result.text))
                    : nullptr;
    {
        std::lock_guard lock(mutex_);
        ++snap_.generation;
        snap_.fetching = false;
        snap_.failed = result.outcome == Outcome::Failed;
        snap_.hasText = result.outcome == Outcome::Text;
        snap_.text = std::move(text);
    }
    notifyListener();
}

void X11Clipboard::Worker::startFetch(int sel, Time time, std::function<void(FetchResult)> done) {
    cancelFetch(sel);
    Fetch fetch;
    fetch.time = time;
    fetch.done = std::move(done);
    fetch_[sel] = std::move(fetch);
    requestTarget(*fetch_[sel], sel, atoms_.utf8);
}

void X11Clipboard::Worker::requestTarget(Fetch& fetch, int sel, Atom target) {
    fetch.target = target;
    // A fresh property per request: a late answer to an earlier request lands elsewhere.
    fetch.property = atoms_.requestProperty[nextRequestProperty_++ % RequestPropertyCount];
    fetch.incr = false;
    fetch.incrType = None;
    fetch.received = 0;
    fetch.streaming = false;
    fetch.decoded = {};
    fetch.data = {};
    fetch.deadline = Clock::now() + FetchStepBound;
    XDeleteProperty(display_, window_, fetch.property);
    XConvertSelection(display_, atoms_.selection[sel], target, fetch.property, window_, fetch.time);
    XFlush(display_);
    conversions_.fetch_add(1, std::memory_order_relaxed);
}

void X11Clipboard::Worker::cancelFetch(int sel) {
    if (fetch_[sel]) {
        finishFetch(sel, FetchResult{Outcome::Cancelled, {}});
    }
}

void X11Clipboard::Worker::finishFetch(int sel, FetchResult result) {
    if (!fetch_[sel]) {
        return;
    }
    auto done = std::move(fetch_[sel]->done);
    XDeleteProperty(display_, window_, fetch_[sel]->property);
    fetch_[sel].reset();
    // The text is kept for as long as it stays on the clipboard, and longer in a slot: without the
    // spare room its growth left (up to as much again), once that is worth a copy.
    if (result.text.capacity() - result.text.size() > result.text.size() / 8 + 64) {
        result.text.shrink_to_fit();
    }
    if (done) {
        done(std::move(result));
    }
}

// The owner refused the target we asked for (or its answer was unusable): try the next text target.
void X11Clipboard::Worker::advanceFetch(int sel, bool refused) {
    Fetch& fetch = *fetch_[sel];
    if (fetch.stage == Stage::Utf8 && refused) {
        fetch.stage = Stage::Targets;
        requestTarget(fetch, sel, atoms_.targets);
        return;
    }
    if (fetch.stage == Stage::Targets) {
        // TARGETS itself refused: the owner may still convert to STRING.
        fetch.stage = Stage::Fallback;
        requestTarget(fetch, sel, XA_STRING);
        return;
    }
    finishFetch(sel, FetchResult{refused ? Outcome::NoText : Outcome::Failed, {}});
}

void X11Clipboard::Worker::onSelectionNotify(const XSelectionEvent& event) {
    if (event.requestor != window_) {
        return;
    }
    if (handOver_ && event.selection == atoms_.clipboardManager && event.target == atoms_.saveTargets) {
        finishHandOver(event.property != None ? Status::success()
                                              : Status::failure("the clipboard manager refused the text"));
        return;
    }
    const int sel = selectionIndex(event.selection);
    if (sel < 0 || !fetch_[sel] || fetch_[sel]->incr) {
        return;
    }
    Fetch& fetch = *fetch_[sel];
    // Match the answer to the request, so that a late answer is never taken for the current one.
    if (event.target != fetch.target || (event.time != fetch.time && event.time != CurrentTime)) {
        return;
    }
    if (event.property == None) {
        advanceFetch(sel, true);
        return;
    }
    if (event.property != fetch.property) {
        return;
    }
    Atom type = None;
    int format = 0;
    std::string data;
    std::vector<Atom> atoms;
    long announced = 0;
    if (!readProperty(fetch.property, type, format, data, fetch.stage == Stage::Targets ? &atoms : nullptr,
                      &announced)) {
        finishFetch(sel, FetchResult{Outcome::Failed, {}});
        return;
    }
    if (type == atoms_.incr) {
        // The owner sends the text in pieces; reading the INCR property deleted it, which asks for the first.
        // The announced size is only the owner's word: it sets the time allowed for the whole transfer
        // (within the limit of what we take in at all) and nothing else.
        const auto size =
            std::min<std::size_t>(static_cast<std::size_t>(std::max(announced, 0L)), MaxIncomingBytes);
        fetch.incr = true;
        fetch.incrType = None;
        const auto now = Clock::now();
        fetch.incrDeadline = now + IncrBaseBound + milliseconds(size * 1000 / IncrMinimumRate);
        fetch.deadline = std::min(now + FetchStepBound, fetch.incrDeadline);
        return;
    }
    if (fetch.stage == Stage::Targets) {
        if (type != XA_ATOM && type != atoms_.targets) {
            advanceFetch(sel, true);
            return;
        }
        auto offers = [&atoms](Atom a) { return std::find(atoms.begin(), atoms.end(), a) != atoms.end(); };
        Atom next = None;
        if (offers(atoms_.mimeUtf8)) {
            next = atoms_.mimeUtf8;
        } else if (offers(XA_STRING)) {
            next = XA_STRING;
        } else if (offers(atoms_.text)) {
            next = atoms_.text;
        }
        if (next == None) {
            finishFetch(sel, FetchResult{Outcome::NoText, {}});  // images, files and the like only
            return;
        }
        fetch.stage = Stage::Fallback;
        requestTarget(fetch, sel, next);
        return;
    }
    finishWithData(sel, type, format, std::move(data));
}

// Some owners answer every target with their one kind of data (xclip -t image/png does): only the type of
// the answer tells whether it is text.
bool X11Clipboard::Worker::isTextType(Atom type) const {
    return type == atoms_.utf8 || type == XA_STRING || type == atoms_.text || type == atoms_.compoundText ||
           type == atoms_.mimeUtf8;
}

void X11Clipboard::Worker::finishWithData(int sel, Atom type, int format, std::string data) {
    if (!isTextType(type)) {
        advanceFetch(sel, true);
        return;
    }
    if (format != 8) {
        finishFetch(sel, FetchResult{Outcome::Failed, {}});
        return;
    }
    FetchResult result{Outcome::Text, {}};
    if (type == XA_STRING) {
        result.text = latin1ToUtf16(data);
    } else if (type == atoms_.compoundText) {
        XTextProperty property{reinterpret_cast<unsigned char*>(data.data()), type, 8, data.size()};
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) < Success || list == nullptr) {
            finishFetch(sel, FetchResult{Outcome::Failed, {}});
            return;
        }
        std::string joined;
        for (int i = 0; i < count; ++i) {
            joined += list[i];
        }
        XFreeStringList(list);
        result.text = utf8ToUtf16(joined);
    } else {
        result.text = utf8ToUtf16(data);  // UTF8_STRING and the UTF-8 MIME type
    }
    finishFetch(sel, std::move(result));
}

// Reads and deletes a property of our window whole. Format-32 data arrives as longs; atoms, if asked for,
// are returned separately.
bool X11Clipboard::Worker::readProperty(Atom property, Atom& type, int& format, std::string& data,
                                        std::vector<Atom>* atoms, long* incrSize, unsigned long* itemCount) {
    unsigned long items = 0, after = 0;
    unsigned char* raw = nullptr;
    const long maxLongs = static_cast<long>(MaxIncomingBytes / 4) + 1;
    const auto errorsBefore = errors_.load();
    const int rc = XGetWindowProperty(display_, window_, property, 0, maxLongs, True, AnyPropertyType, &type,
                                      &format, &items, &after, &raw);
    std::unique_ptr<unsigned char, int (*)(void*)> owner(raw, XFree);
    if (rc != Success || errors_.load() != errorsBefore || type == None || after != 0) {
        return false;
    }
    if (format == 8) {
        data.assign(reinterpret_cast<const char*>(raw), items);
    } else if (format == 32 && atoms != nullptr) {
        const auto* longs = reinterpret_cast<const long*>(raw);
        atoms->assign(longs, longs + items);
    } else if (format == 32 && type == atoms_.incr) {
        if (incrSize != nullptr && items > 0) {
            *incrSize = *reinterpret_cast<const long*>(raw);
        }
    } else {
        data.clear();
    }
    if (itemCount != nullptr) {
        *itemCount = items;
    }
    return true;
}

// Decodes a chunk onto what came before. A UTF-8 sequence that the chunk's end cuts is kept for the next
// chunk (in fetch.data), so the text decodes exactly as it would have in one piece.
void X11Clipboard::Worker::appendDecoded(Fetch& fetch, std::string chunk, bool last) {
    if (fetch.incrType == XA_STRING) {
        fetch.decoded += latin1ToUtf16(chunk);
        return;
    }
    std::string bytes = std::move(fetch.data);
    bytes += chunk;
    chunk = {};
    std::size_t keep = 0;
    if (!last) {
        for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
            const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
            if (c < 0x80) {
                break;
            }
            if (c >= 0xC0) {  // a lead byte: kept when its sequence needs more than the bytes left
                const std::size_t length = 1 + static_cast<std::size_t>(ReadUtf8Lead(c).continuations);
                keep = length > back ? back : 0;
                break;
            }
        }
    }
    fetch.data.assign(bytes, bytes.size() - keep, keep);
    bytes.resize(bytes.size() - keep);
    fetch.decoded += utf8ToUtf16(bytes);
}

void X11Clipboard::Worker::onPropertyNotify(const XPropertyEvent& event) {
    if (event.window != window_) {
        // A requestor took an INCR chunk of ours.
        if (event.state != PropertyDelete) {
            return;
        }
        if (const auto index = findTransfer(event.window, event.atom)) {
            if (!sendNextChunk(transfers_[*index])) {
                endTransfer(*index, EndReason::Done);
            }
            XFlush(display_);
        }
        return;
    }
    if (event.state != PropertyNewValue) {
        return;
    }
    for (int sel = 0; sel < SelCount; ++sel) {
        if (!fetch_[sel] || !fetch_[sel]->incr || fetch_[sel]->property != event.atom) {
            continue;
        }
        Fetch& fetch = *fetch_[sel];
        Atom type = None;
        int format = 0;
        std::string chunk;
        unsigned long items = 0;
        // A chunk in 16- or 32-bit format fails the read: only an empty property ends the transfer.
        if (!readProperty(fetch.property, type, format, chunk, nullptr, nullptr, &items) ||
            (format != 8 && items != 0) || fetch.received + chunk.size() > MaxIncomingBytes ||
            (items != 0 && fetch.incrType != None && type != fetch.incrType)) {
            finishFetch(sel, FetchResult{Outcome::Failed, {}});
            return;
        }
        if (items == 0) {  // the end of the transfer
            if (fetch.streaming) {
                // A sequence cut off by the end is ill-formed: it decodes to U+FFFD.
                appendDecoded(fetch, std::move(fetch.data), true);
                finishFetch(sel, FetchResult{Outcome::Text, std::move(fetch.decoded)});
            } else {
                finishWithData(sel, fetch.incrType == None ? atoms_.utf8 : fetch.incrType, 8,
                               std::move(fetch.data));
            }
            return;
        }
        if (fetch.incrType == None) {
            if (!isTextType(type)) {
                advanceFetch(sel, true);  // not text: no need to take it in
                return;
            }
            fetch.incrType = type;
            // UTF-8 and Latin-1 are decoded as they come, so the bytes are never held whole. Memory grows
            // with what has arrived, never with what the owner announced.
            fetch.streaming = type == atoms_.utf8 || type == atoms_.mimeUtf8 || type == XA_STRING;
        }
        fetch.received += chunk.size();
        if (fetch.streaming) {
            appendDecoded(fetch, std::move(chunk), false);
        } else {
            fetch.data += chunk;
        }
        fetch.deadline = std::min(Clock::now() + FetchStepBound, fetch.incrDeadline);
        return;
    }
}

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
            const bool forPaste = (sel == SelClipboard || primaryOffered_) && paster_ &&
                                  clientOf(request.requestor) == *paster_;
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
                                reinterpret_cast<const unsigned char*>(data->data()),
                                static_cast<int>(data->size()));
                if (forPaste) {
                    notePasteActivity(0, true);
                }
            }
            reply.property = property;
        }
        // MULTIPLE and every other target: refused.
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(display_);
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
