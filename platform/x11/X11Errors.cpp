#include "platform/x11/X11Errors.h"

// Xlibint.h declares the per-display error hooks (and defines min and max as macros).
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#undef min
#undef max

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

namespace varnel {

struct X11ErrorLog::Record {
    std::atomic<std::uint64_t> count{0};
    std::mutex mutex;  // guards first
    std::optional<X11Error> first;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<Display*, std::shared_ptr<X11ErrorLog::Record>> logs;
    XErrorHandler previous = nullptr;  // the handler before ours
    XErrorHandler xlibDefault = nullptr;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// Records the error in the display's log; false when the display has none.
bool Record(Display* display, const X11Error& error) {
    Registry& r = registry();
    std::shared_ptr<X11ErrorLog::Record> record;
    {
        std::lock_guard lock(r.mutex);
        const auto found = r.logs.find(display);
        if (found == r.logs.end()) {
            return false;
        }
        record = found->second;
    }
    {
        std::lock_guard lock(record->mutex);
        if (!record->first) {
            record->first = error;
        }
    }
    record->count.fetch_add(1, std::memory_order_relaxed);
    return true;
}

int OnError(Display* display, XErrorEvent* event) {
    if (Record(display, X11Error{event->error_code, event->request_code, event->minor_code})) {
        return 0;
    }
    // Another part of the program may have its own handler; Xlib's default one would end the process.
    const Registry& r = registry();
    if (r.previous != nullptr && r.previous != r.xlibDefault) {
        return r.previous(display, event);
    }
    return 0;
}

int OnErrorAwaitingReply(Display* display, xError* error, XExtCodes*, int* returnCode) {
    if (!Record(display, X11Error{error->errorCode, error->majorCode, error->minorCode})) {
        return False;  // on to the process-wide handler
    }
    *returnCode = 0;  // a request that wanted a reply reports failure
    return True;
}

}  // namespace

void InstallQuietX11ErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        Registry& r = registry();
        // Setting no handler installs Xlib's default and returns the current one; setting that back
        // returns the default, which is never to be called.
        const XErrorHandler current = XSetErrorHandler(nullptr);
        r.xlibDefault = XSetErrorHandler(current);
        r.previous = XSetErrorHandler(OnError);
    });
}

X11ErrorLog::X11ErrorLog(Display* display) : display_(display), record_(std::make_shared<Record>()) {
    InstallQuietX11ErrorHandler();
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        r.logs[display_] = record_;
    }
    if (XExtCodes* codes = XAddExtension(display_)) {
        XESetError(display_, codes->extension, OnErrorAwaitingReply);
        hooked_ = true;
    }
}

X11ErrorLog::~X11ErrorLog() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.logs.find(display_);
    if (found != r.logs.end() && found->second == record_) {
        r.logs.erase(found);
    }
}

std::uint64_t X11ErrorLog::count() const {
    return record_->count.load(std::memory_order_relaxed);
}

std::optional<X11Error> X11ErrorLog::takeFirst() {
    std::lock_guard lock(record_->mutex);
    return std::exchange(record_->first, std::nullopt);
}

}  // namespace varnel
