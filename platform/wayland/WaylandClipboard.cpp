#include "platform/wayland/WaylandClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/Utf8.h"
#include "platform/wayland/WaylandConnection.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Connecting and binding; setText/clear/restorePrimary only talk to the compositor.
constexpr milliseconds CommandBound{500};
// A client that sends nothing into the pipe for this long is given up.
constexpr milliseconds ReadIdleBound{300};
// ...and no read takes longer than this in all.
constexpr milliseconds ReadTotalBound{3000};
// A client that takes nothing from the pipe for this long is given up.
constexpr milliseconds WriteIdleBound{5000};
// How often a pipe whose reader has yet to take our written bytes is looked at.
constexpr milliseconds DrainPoll{5};
// After a paste has taken our text, before the clipboard may change again.
constexpr milliseconds PastedQuiet{100};

// True when the reader of a pipe we write to has closed its end.
bool PeerClosed(int fd) {
    pollfd p{fd, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0;
}
constexpr milliseconds InitialReadBound{350};
constexpr milliseconds PrimaryOfferBound{ReadTotalBound + CommandBound};
constexpr milliseconds PumpInterval{2};
// Texts offered by other clients larger than this are not taken in.
constexpr std::size_t MaxIncomingBytes = 64u * 1024u * 1024u;

// Text MIME types in order of preference.
constexpr const char* TextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT",
                                     "STRING"};
constexpr const char* MarkerPrefix = "application/x-varnel-source;";
// How long a paste into an X11 window waits for KWin to pass our text on to X11.
constexpr milliseconds X11BridgeBound{1500};

// The private MIME type of our offer with this serial.
std::string OfferMarker(std::uint64_t serial) {
    return MarkerPrefix + std::string("pid=") + std::to_string(getpid()) + ";n=" + std::to_string(serial);
}

bool IsAscii(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct FdCloser {
    int fd = -1;
    explicit FdCloser(int f = -1) : fd(f) {}
    FdCloser(FdCloser&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FdCloser& operator=(FdCloser&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() { reset(); }
    void reset() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
    }
};

}  // namespace

class WaylandClipboard::Worker {
  public:
    enum Sel { SelClipboard, SelPrimary };

    // Shared with the calling thread, under mutex.
    struct Shared {
        std::uint64_t generation = 0;
        bool hasText = false;
        std::u16string text;
        std::uint64_t foreignChanges = 0;
        std::uint64_t served = 0;
        int writesInFlight = 0;
        std::uint64_t confirmed[2] = {0,
                                      0};   // serial of our last source the compositor reported as selection
        std::uint64_t clearedSerial = 0;    // our last clear the compositor reported
        std::uint64_t primaryReadyFor = 0;  // offerOnPrimary serial whose source is set
        bool broken = false;
        std::string error;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    Shared shared;

    ~Worker() {
        stop_ = true;
        wake();
        if (thread_.joinable()) {
            thread_.join();
        }
        for (auto& [source, data] : sources_) {
            zwlr_data_control_source_v1_destroy(source);
        }
        for (auto& [offer, types] : offers_) {
            zwlr_data_control_offer_v1_destroy(offer);
        }
        if (device_ != nullptr) {
            zwlr_data_control_device_v1_destroy(device_);
        }
        if (manager_ != nullptr) {
            zwlr_data_control_manager_v1_destroy(manager_);
        }
    }

    // On the calling thread, before the worker starts.
    bool connect(std::string* why) {
        wakeFd_ = FdCloser(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (wakeFd_.fd < 0) {
            *why = std::string("eventfd: ") + std::strerror(errno);
            return false;
        }
        if (const char* reason = connection_.connect(&RegistryListener, this)) {
            *why = reason;
            return false;
        }
        if (manager_ == nullptr) {
            *why = "the compositor offers no data-control protocol (zwlr_data_control_manager_v1)";
            return false;
        }
        device_ = zwlr_data_control_manager_v1_get_data_device(manager_, connection_.seat);
        zwlr_data_control_device_v1_add_listener(device_, &DeviceListener, this);
        if (!wayland::Roundtrip(connection_.display, wayland::ConnectBound)) {
            *why = "the Wayland compositor did not answer";
            return false;
        }
        thread_ = std::thread([this] { run(); });
        return true;
    }

    // Runs `job` on the worker thread.
    void post(std::function<void(Worker&)> job) {
        {
            std::lock_guard lock(mutex);
            jobs_.push_back(std::move(job));
        }
        wake();
    }

    std::uint64_t nextSerial() { return ++serial_; }
    bool primarySupported() const { return managerVersion_ >= 2; }

    // ---- worker thread ------------------------------------------------------------------------------

    void setSelection(Sel sel, std::shared_ptr<const std::string> bytes, std::uint64_t serial) {
        if (bytes == nullptr) {
            if (sel == SelClipboard) {
                pendingClear_ = serial;
                if (selectionOffer_ == nullptr) {
                    // Already empty: the compositor reports nothing for a change that changes nothing.
                    std::lock_guard lock(mutex);
                    shared.clearedSerial = serial;
                }
                zwlr_data_control_device_v1_set_selection(device_, nullptr);
            } else {
                zwlr_data_control_device_v1_set_primary_selection(device_, nullptr);
            }
            return;
        }
        zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(manager_);
        zwlr_data_control_source_v1_add_listener(source, &SourceListener, this);
        for (const char* type : TextTypes) {
            // STRING is Latin-1, and we serve UTF-8: the same bytes only for ASCII. An X11 reader that
            // falls back to it (Tk does, when its UTF8_STRING request fails) would get other characters.
            if (std::strcmp(type, "STRING") != 0 || IsAscii(*bytes)) {
                zwlr_data_control_source_v1_offer(source, type);
            }
        }
        zwlr_data_control_source_v1_offer(source, OfferMarker(serial).c_str());
        sources_[source] = SourceData{std::move(bytes), serial};
        if (sel == SelClipboard) {
            zwlr_data_control_device_v1_set_selection(device_, source);
        } else {
            zwlr_data_control_device_v1_set_primary_selection(device_, source);
        }
    }

    // Reads what the primary selection holds (when it is another client's text), then offers `bytes` on
    // it; shared.primaryReadyFor tells the caller when the source is set.
    void offerPrimary(std::shared_ptr<const std::string> bytes, std::uint64_t serial) {
        savedPrimary_.reset();
        const auto type = primaryOffer_ != nullptr ? textType(primaryOffer_) : std::nullopt;
        if (type && !isOurs(primaryOffer_)) {
            startRead(SelPrimary, primaryOffer_, *type,
                      [this, bytes, serial](std::optional<std::string> text) {
                          savedPrimary_ = std::move(text);
                          setSelection(SelPrimary, bytes, serial);
                          markPrimaryReady(serial);
                      });
            return;
        }
        if (primaryOffer_ != nullptr && isOurs(primaryOffer_)) {
            // A leftover of ours: give it back as it was.
            savedPrimary_ = ourBytes(primaryOffer_);
        }
        setSelection(SelPrimary, bytes, serial);
        markPrimaryReady(serial);
    }

    void restorePrimary() {
        if (savedPrimary_) {
            setSelection(SelPrimary, std::make_shared<const std::string>(*savedPrimary_), nextSerial());
        } else {
            setSelection(SelPrimary, nullptr, 0);
        }
        savedPrimary_.reset();
    }

  private:
    struct SourceData {
        std::shared_ptr<const std::string> bytes;
        std::uint64_t serial = 0;
    };
    struct Read {
        Sel sel = SelClipboard;
        FdCloser fd;
        std::string bytes;
        Clock::time_point idleDeadline;
        Clock::time_point totalDeadline;
        std::function<void(std::optional<std::string>)> done;
    };
    struct Write {
        FdCloser fd;
        std::shared_ptr<const std::string> bytes;
        std::size_t offset = 0;
        Clock::time_point deadline;
        // Once every byte is written: how many the reader has yet to take from the pipe. A write counts
        // as served only when they are taken, because a reader that reads later (GTK, from its main
        // loop) gives up a read that a new clipboard owner overtakes.
        int unread = -1;
    };

    // The serial of our source behind an offer, or 0 when the offer is another client's.
    std::uint64_t ourSerial(zwlr_data_control_offer_v1* offer) const {
        const auto it = offers_.find(offer);
        if (it == offers_.end()) {
            return 0;
        }
        const std::string mine = MarkerPrefix + std::string("pid=") + std::to_string(getpid()) + ";n=";
        for (const auto& type : it->second) {
            if (type.rfind(mine, 0) == 0) {
                return std::strtoull(type.c_str() + mine.size(), nullptr, 10);
            }
        }
        return 0;
    }
    bool isOurs(zwlr_data_control_offer_v1* offer) const { return ourSerial(offer) != 0; }
    std::optional<std::string> ourBytes(zwlr_data_control_offer_v1* offer) const {
        const std::uint64_t serial = ourSerial(offer);
        for (const auto& [source, data] : sources_) {
            if (data.serial == serial) {
                return *data.bytes;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> textType(zwlr_data_control_offer_v1* offer) const {
        const auto it = offers_.find(offer);
        if (it == offers_.end()) {
            return std::nullopt;
        }
        for (const char* wanted : TextTypes) {
            if (std::find(it->second.begin(), it->second.end(), wanted) != it->second.end()) {
                return std::string(wanted);
            }
        }
        return std::nullopt;
    }

    void markPrimaryReady(std::uint64_t serial) {
        {
            std::lock_guard lock(mutex);
            shared.primaryReadyFor = serial;
        }
        changed.notify_all();
    }

    void wake() {
        if (wakeFd_.fd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wakeFd_.fd, &one, sizeof one);
        }
    }

    void settle(bool hasText, std::u16string text, bool foreign) {
        {
            std::lock_guard lock(mutex);
            ++shared.generation;
            shared.hasText = hasText;
            shared.text = std::move(text);
            shared.foreignChanges += foreign ? 1 : 0;
        }
        changed.notify_all();
    }

    void dropOffer(zwlr_data_control_offer_v1* offer) {
        if (offer == nullptr || offer == selectionOffer_ || offer == primaryOffer_) {
            return;
        }
        offers_.erase(offer);
        zwlr_data_control_offer_v1_destroy(offer);
    }

    void startRead(Sel sel, zwlr_data_control_offer_v1* offer, const std::string& type,
                   std::function<void(std::optional<std::string>)> done) {
        // A newer change of the same selection replaces a read still running for it.
        reads_.erase(
            std::remove_if(reads_.begin(), reads_.end(), [sel](const Read& r) { return r.sel == sel; }),
            reads_.end());
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            done(std::nullopt);
            return;
        }
        FdCloser readEnd(fds[0]);
        FdCloser writeEnd(fds[1]);
        zwlr_data_control_offer_v1_receive(offer, type.c_str(), writeEnd.fd);
        wl_display_flush(connection_.display);
        writeEnd.reset();  // libwayland sent its own copy
        const auto now = Clock::now();
        reads_.push_back(
            Read{sel, std::move(readEnd), {}, now + ReadIdleBound, now + ReadTotalBound, std::move(done)});
    }

    void onSelection(Sel sel, zwlr_data_control_offer_v1* offer) {
        zwlr_data_control_offer_v1* previous = sel == SelClipboard ? selectionOffer_ : primaryOffer_;
        (sel == SelClipboard ? selectionOffer_ : primaryOffer_) = offer;
        dropOffer(previous);
        if (sel == SelPrimary) {
            if (const std::uint64_t serial = ourSerial(offer)) {
                std::lock_guard lock(mutex);
                shared.confirmed[SelPrimary] = serial;
            }
            return;
        }
        reads_.erase(
            std::remove_if(reads_.begin(), reads_.end(), [](const Read& r) { return r.sel == SelClipboard; }),
            reads_.end());
        if (offer == nullptr) {
            {
                std::lock_guard lock(mutex);
                shared.clearedSerial = pendingClear_;
            }
            settle(false, {}, false);
            return;
        }
        if (const std::uint64_t serial = ourSerial(offer)) {
            const auto bytes = ourBytes(offer);
            {
                std::lock_guard lock(mutex);
                shared.confirmed[SelClipboard] = serial;
            }
            std::u16string text;
            DecodeUtf8(bytes.value_or(std::string{}), text, Utf8Errors::Replace);
            settle(bytes.has_value(), std::move(text), false);
            return;
        }
        const auto type = textType(offer);
        if (!type) {
            settle(false, {}, true);  // another client's data, no text in it
            return;
        }
        startRead(SelClipboard, offer, *type, [this](std::optional<std::string> bytes) {
            std::u16string text;
            if (bytes) {
                DecodeUtf8(*bytes, text, Utf8Errors::Replace);
            }
            // A failed read leaves no text to capture; the change is still another client's.
            settle(bytes.has_value(), std::move(text), true);
        });
    }

    void onSend(zwlr_data_control_source_v1* source, int fd) {
        FdCloser owned(fd);
        const auto it = sources_.find(source);
        if (it == sources_.end()) {
            return;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        writes_.push_back(Write{std::move(owned), it->second.bytes, 0, Clock::now() + WriteIdleBound});
        std::lock_guard lock(mutex);
        ++shared.writesInFlight;
    }

    void finishWrite(bool ok) {
        {
            std::lock_guard lock(mutex);
            --shared.writesInFlight;
            shared.served += ok ? 1 : 0;
        }
        changed.notify_all();
    }

    void breakDown() {
        {
            std::lock_guard lock(mutex);
            shared.broken = true;
            shared.error = wayland::ConnectionError(connection_.display);
            if (shared.error.empty()) {
                shared.error = "the Wayland connection broke";
            }
        }
        changed.notify_all();
    }

    void run() {
        // A reader that closes its pipe early must not end the process: EPIPE is handled instead.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        const int displayFd = wl_display_get_fd(connection_.display);
        while (!stop_) {
            while (wl_display_prepare_read(connection_.display) != 0) {
                if (wl_display_dispatch_pending(connection_.display) < 0) {
                    return breakDown();
                }
            }
            const bool flushPending = wl_display_flush(connection_.display) < 0 && errno == EAGAIN;
            std::vector<pollfd> fds;
            fds.push_back({displayFd, static_cast<short>(POLLIN | (flushPending ? POLLOUT : 0)), 0});
            fds.push_back({wakeFd_.fd, POLLIN, 0});
            auto deadline = Clock::now() + milliseconds(500);
            for (const Read& r : reads_) {
                fds.push_back({r.fd.fd, POLLIN, 0});
                deadline = std::min({deadline, r.idleDeadline, r.totalDeadline});
            }
            for (const Write& w : writes_) {
                // While the reader drains the pipe only an error wakes us; the pipe is looked at again soon.
                fds.push_back({w.fd.fd, static_cast<short>(w.unread < 0 ? POLLOUT : 0), 0});
                deadline =
                    std::min({deadline, w.deadline, w.unread < 0 ? w.deadline : Clock::now() + DrainPoll});
            }
            const auto wait = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count() + 1;
            const int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(wait, 0)));
            if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
                if (wl_display_read_events(connection_.display) < 0) {
                    return breakDown();
                }
            } else {
                wl_display_cancel_read(connection_.display);
            }
            if (wl_display_dispatch_pending(connection_.display) < 0) {
                return breakDown();
            }
            if ((fds[1].revents & POLLIN) != 0) {
                std::uint64_t count;
                [[maybe_unused]] const auto n = ::read(wakeFd_.fd, &count, sizeof count);
            }
            runJobs();
            serviceReads();
            serviceWrites();
            std::lock_guard lock(mutex);
            if (wl_display_get_error(connection_.display) != 0) {
                shared.broken = true;
            }
        }
    }

    void runJobs() {
        std::deque<std::function<void(Worker&)>> jobs;
        {
            std::lock_guard lock(mutex);
            jobs.swap(jobs_);
        }
        for (auto& job : jobs) {
            job(*this);
        }
        wl_display_flush(connection_.display);
    }

    void serviceReads() {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < reads_.size();) {
            Read& r = reads_[i];
            bool finished = false;
            bool ok = false;
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::read(r.fd.fd, buffer, sizeof buffer);
                if (n > 0) {
                    r.bytes.append(buffer, static_cast<std::size_t>(n));
                    r.idleDeadline = Clock::now() + ReadIdleBound;
                    if (r.bytes.size() > MaxIncomingBytes) {
                        finished = true;
                        break;
                    }
                    continue;
                }
                if (n == 0) {
                    finished = ok = true;
                } else if (errno != EAGAIN && errno != EINTR) {
                    finished = true;
                }
                break;
            }
            if (!finished && (now >= r.idleDeadline || now >= r.totalDeadline)) {
                finished = true;
            }
            if (!finished) {
                ++i;
                continue;
            }
            Read done = std::move(r);
            reads_.erase(reads_.begin() + static_cast<std::ptrdiff_t>(i));
            done.done(ok ? std::optional<std::string>(std::move(done.bytes)) : std::nullopt);
        }
    }

    void serviceWrites() {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < writes_.size();) {
            Write& w = writes_[i];
            bool finished = false;
            bool ok = false;
            while (w.offset < w.bytes->size()) {
                const ssize_t n = ::write(w.fd.fd, w.bytes->data() + w.offset, w.bytes->size() - w.offset);
                if (n > 0) {
                    w.offset += static_cast<std::size_t>(n);
                    w.deadline = Clock::now() + WriteIdleBound;
                    continue;
                }
                if (n < 0 && errno == EPIPE) {
                    timespec zero{0, 0};
                    sigset_t pipe;
                    sigemptyset(&pipe);
                    sigaddset(&pipe, SIGPIPE);
                    sigtimedwait(&pipe, nullptr, &zero);
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    break;
                }
                finished = true;
                break;
            }
            if (!finished && w.offset >= w.bytes->size()) {
                int unread = 0;
                if (ioctl(w.fd.fd, FIONREAD, &unread) != 0 || unread <= 0 || PeerClosed(w.fd.fd)) {
                    finished = ok = true;
                } else if (w.unread < 0 || unread < w.unread) {
                    w.unread = unread;
                    w.deadline = Clock::now() + WriteIdleBound;
                }
            }
            if (!finished && now >= w.deadline) {
                finished = true;
            }
            if (!finished) {
                ++i;
                continue;
            }
            writes_.erase(writes_.begin() + static_cast<std::ptrdiff_t>(i));
            finishWrite(ok);
        }
    }

    // ---- listeners ----------------------------------------------------------------------------------

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        auto* self = static_cast<Worker*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->connection_.seat == nullptr) {
            self->connection_.seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
                   self->manager_ == nullptr) {
            self->managerVersion_ = std::min<std::uint32_t>(version, 2);
            self->manager_ = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_data_control_manager_v1_interface, self->managerVersion_));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener RegistryListener{onGlobal, onGlobalRemove};

    static void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<Worker*>(data);
        self->offers_[offer] = {};
        zwlr_data_control_offer_v1_add_listener(offer, &OfferListener, self);
    }
    static void onDeviceSelection(void* data, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1* offer) {
        static_cast<Worker*>(data)->onSelection(SelClipboard, offer);
    }
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                   zwlr_data_control_offer_v1* offer) {
        static_cast<Worker*>(data)->onSelection(SelPrimary, offer);
    }
    static void onFinished(void* data, zwlr_data_control_device_v1*) {
        auto* self = static_cast<Worker*>(data);
        std::lock_guard lock(self->mutex);
        self->shared.broken = true;
        self->shared.error = "the compositor withdrew the clipboard device";
    }
    static constexpr zwlr_data_control_device_v1_listener DeviceListener{onDataOffer, onDeviceSelection,
                                                                         onFinished, onPrimarySelection};

    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
        auto* self = static_cast<Worker*>(data);
        auto& types = self->offers_[offer];
        if (types.size() < 256) {  // a client offering thousands of types gets the first ones heard
            types.emplace_back(type);
        }
    }
    static constexpr zwlr_data_control_offer_v1_listener OfferListener{onOfferType};

    static void onSourceSend(void* data, zwlr_data_control_source_v1* source, const char*, std::int32_t fd) {
        static_cast<Worker*>(data)->onSend(source, fd);
    }
    static void onSourceCancelled(void* data, zwlr_data_control_source_v1* source) {
        auto* self = static_cast<Worker*>(data);
        self->sources_.erase(source);
        zwlr_data_control_source_v1_destroy(source);
    }
    static constexpr zwlr_data_control_source_v1_listener SourceListener{onSourceSend, onSourceCancelled};

    wayland::SeatConnection connection_;  // released last, after everything made on it
    zwlr_data_control_manager_v1* manager_ = nullptr;
    std::uint32_t managerVersion_ = 0;
    zwlr_data_control_device_v1* device_ = nullptr;
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers_;
    zwlr_data_control_offer_v1* selectionOffer_ = nullptr;
    zwlr_data_control_offer_v1* primaryOffer_ = nullptr;
    std::map<zwlr_data_control_source_v1*, SourceData> sources_;
    std::vector<Read> reads_;
    std::vector<Write> writes_;
    std::optional<std::string> savedPrimary_;
    std::uint64_t pendingClear_ = 0;
    std::atomic<std::uint64_t> serial_{0};
    std::deque<std::function<void(Worker&)>> jobs_;
    FdCloser wakeFd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- the calling side ---------------------------------------------------------------------------------

namespace {

// Waits (bounded) for the predicate over the worker's shared state, pumping our own events when asked.
template <class Pred>
bool WaitFor(WaylandClipboard::Worker& worker, EventPump* pump, milliseconds bound, Pred pred) {
    const auto deadline = Clock::now() + bound;
    std::unique_lock lock(worker.mutex);
    for (;;) {
        if (pred(worker.shared)) {
            return true;
        }
        if (worker.shared.broken || Clock::now() >= deadline) {
            return false;
        }
        if (pump != nullptr) {
            lock.unlock();
            pump->pumpOnce();
            lock.lock();
        }
        worker.changed.wait_for(lock, PumpInterval);
    }
}

}  // namespace

std::unique_ptr<WaylandClipboard> WaylandClipboard::open(EventPump& pump, std::string* why) {
    auto worker = std::make_unique<Worker>();
    std::string reason;
    if (!worker->connect(&reason)) {
        if (why != nullptr) {
            *why = reason;
        }
        return nullptr;
    }
    // The text already on the clipboard, when its owner answers soon.
    WaitFor(*worker, nullptr, InitialReadBound, [](const Worker::Shared& s) { return s.generation > 0; });
    return std::make_unique<WaylandClipboard>(Key{}, pump, std::move(worker));
}

WaylandClipboard::WaylandClipboard(Key, EventPump& pump, std::unique_ptr<Worker> worker)
    : pump_(pump), worker_(std::move(worker)) {}

WaylandClipboard::~WaylandClipboard() = default;

Status WaylandClipboard::clear() {
    const std::uint64_t serial = worker_->nextSerial();
    {
        std::lock_guard lock(worker_->mutex);
        foreignBaseline_ = worker_->shared.foreignChanges;
    }
    worker_->post([serial](Worker& w) { w.setSelection(Worker::SelClipboard, nullptr, serial); });
    if (!WaitFor(*worker_, nullptr, CommandBound,
                 [serial](const Worker::Shared& s) { return s.clearedSerial >= serial; })) {
        return Status::failure("the compositor did not confirm clearing the clipboard");
    }
    return Status::success();
}

Result<bool> WaylandClipboard::hasText() {
    std::lock_guard lock(worker_->mutex);
    if (worker_->shared.broken) {
        return Result<bool>::failure(worker_->shared.error);
    }
    return Result<bool>::success(worker_->shared.hasText);
}

Result<std::u16string> WaylandClipboard::getText() {
    std::lock_guard lock(worker_->mutex);
    if (worker_->shared.broken) {
        return Result<std::u16string>::failure(worker_->shared.error);
    }
    if (!worker_->shared.hasText) {
        return Result<std::u16string>::failure("the clipboard holds no text");
    }
    return Result<std::u16string>::success(worker_->shared.text);
}

std::uint64_t WaylandClipboard::changeCount() {
    std::lock_guard lock(worker_->mutex);
    return worker_->shared.broken ? 0 : worker_->shared.generation;
}

Status WaylandClipboard::setText(const std::u16string& text) {
    const std::uint64_t serial = worker_->nextSerial();
    auto bytes = std::make_shared<const std::string>(wayland::ToUtf8(text));
    {
        std::lock_guard lock(worker_->mutex);
        foreignBaseline_ = worker_->shared.foreignChanges;
        servedBaseline_ = worker_->shared.served;
    }
    worker_->post([serial, bytes](Worker& w) { w.setSelection(Worker::SelClipboard, bytes, serial); });
    if (!WaitFor(*worker_, nullptr, CommandBound,
                 [serial](const Worker::Shared& s) { return s.confirmed[Worker::SelClipboard] >= serial; })) {
        return Status::failure("the compositor did not confirm our clipboard text");
    }
    return Status::success();
}

// Data-control does not say which client reads our text: any read after this counts as the paste.
// A converted selection is not offered on the primary selection, which is the target's own.
Status WaylandClipboard::offerForPaste(const std::u16string& text, WindowHandle, PasteKind kind) {
    if (Status set = setText(text); !set) {
        return set;
    }
    primaryOffered_ = kind == PasteKind::SlotText && offerOnPrimary(text).ok();
    if (Status bridged = waitUntilOfferedOnX11(); !bridged) {
        return bridged;
    }
    std::lock_guard lock(worker_->mutex);
    servedBaseline_ = worker_->shared.served;
    return Status::success();
}

// Asks X11's CLIPBOARD for its types, never for the text, so nothing is read from us meanwhile.
Status WaylandClipboard::waitUntilOfferedOnX11() {
    if (!xwayland_) {
        xwayland_ = wayland::XWaylandClipboardProbe::open();
    }
    if (!xwayland_ || !xwayland_->x11WindowActive()) {
        return Status::success();
    }
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(worker_->mutex);
        serial = worker_->shared.confirmed[Worker::SelClipboard];
    }
    if (!xwayland_->offersTypeWithin(OfferMarker(serial), X11BridgeBound)) {
        return Status::failure("the compositor did not pass the text on to X11 applications in time");
    }
    return Status::success();
}

void WaylandClipboard::endPaste() {
    if (primaryOffered_) {
        primaryOffered_ = false;
        restorePrimary();
    }
}

Status WaylandClipboard::waitUntilPasted(milliseconds bound) {
    const std::uint64_t baseline = servedBaseline_;
    if (!WaitFor(*worker_, &pump_, bound, [baseline](const Worker::Shared& s) {
            return s.served > baseline && s.writesInFlight == 0;
        })) {
        return Status::failure("no application fetched the text in time");
    }
    // The reader has taken every byte but inserts the text only once it has read the end too, from its
    // own event loop; a new clipboard owner before that makes GTK give the paste up. Events are
    // handled meanwhile.
    WaitFor(*worker_, &pump_, PastedQuiet, [](const Worker::Shared&) { return false; });
    return Status::success();
}

Status WaylandClipboard::waitForCopyFrom(WindowHandle, milliseconds bound) {
    const std::uint64_t baseline = foreignBaseline_;
    if (!WaitFor(*worker_, &pump_, bound,
                 [baseline](const Worker::Shared& s) { return s.foreignChanges > baseline; })) {
        return Status::failure("no other application took the clipboard in time");
    }
    return Status::success();
}

Status WaylandClipboard::offerOnPrimary(const std::u16string& text) {
    if (!worker_->primarySupported()) {
        return Status::failure("the compositor's data-control has no primary selection");
    }
    const std::uint64_t serial = worker_->nextSerial();
    auto bytes = std::make_shared<const std::string>(wayland::ToUtf8(text));
    worker_->post([serial, bytes](Worker& w) { w.offerPrimary(bytes, serial); });
    if (!WaitFor(*worker_, nullptr, PrimaryOfferBound, [serial](const Worker::Shared& s) {
            return s.primaryReadyFor >= serial && s.confirmed[Worker::SelPrimary] >= serial;
        })) {
        return Status::failure("the compositor did not confirm our primary selection");
    }
    return Status::success();
}

void WaylandClipboard::restorePrimary() {
    if (worker_->primarySupported()) {
        worker_->post([](Worker& w) { w.restorePrimary(); });
    }
}

}  // namespace varnel
