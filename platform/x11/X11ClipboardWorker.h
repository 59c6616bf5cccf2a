// The worker behind X11Clipboard: a thread with its own X connection, which alone talks to the X server
// for the clipboard. Shared by the files that make it up: X11ClipboardWorker.cpp (start, shutdown, calls
// from the user-interface thread and the event loop), X11ClipboardFetch.cpp (other clients' text, INCR
// included) and X11ClipboardServe.cpp (our own text: ownership, requests, INCR transfers, the paste
// under way and the hand-over at exit).
#pragma once

#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11Errors.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
// Xlib spells its return type Status as a macro; ours is a class.
#undef Status

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace varnel {

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
        c.xErrors = errors_ ? errors_->count() : 0;
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
    void serveText(const XSelectionRequestEvent& request, int sel, Atom property);
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
    std::unique_ptr<X11ErrorLog> errors_;  // from start() until the display closes
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

}  // namespace varnel
