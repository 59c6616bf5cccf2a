#pragma once

#include <cstdint>
#include <memory>
#include <optional>

struct _XDisplay;

namespace varnel {

// X errors on our connections. Xlib hands an error met while it waits for a reply (XSync included) to
// the error hooks of the display it came on, and any other error (one read together with events) to the
// process-wide error handler. Both lead here: every connection of ours that wants its errors keeps an
// X11ErrorLog, and the hook on its display and the one process-wide handler record each error of that
// display in its log. No error ever ends the process. Errors on a display without a log go to the
// handler that was in place before ours (the toolkit's), unless that is Xlib's default, which exits.

// Installs the process-wide handler, once per process (and XInitThreads before it). Safe to call from
// any thread.
void InstallQuietX11ErrorHandler();

struct X11Error {
    int code = 0;     // BadWindow, BadAtom, ...
    int request = 0;  // the failed request's major opcode
    int minor = 0;    // and its minor opcode (extension requests)
};

// The errors on one display, from construction until destruction. Make it after the display is open and
// end it before the display is closed.
class X11ErrorLog {
  public:
    explicit X11ErrorLog(_XDisplay* display);
    ~X11ErrorLog();
    X11ErrorLog(const X11ErrorLog&) = delete;
    X11ErrorLog& operator=(const X11ErrorLog&) = delete;

    // Whether the display's own hook could be installed: without it, the log depends on the process-wide
    // handler, which another part of the program may replace.
    bool hooked() const { return hooked_; }
    // Errors recorded so far.
    std::uint64_t count() const;
    // The first error recorded since the last call; it is forgotten once taken.
    std::optional<X11Error> takeFirst();

    struct Record;

  private:
    _XDisplay* display_;
    std::shared_ptr<Record> record_;
    bool hooked_ = false;
};

// Traps the errors of the requests made while it lives: once a round trip has brought their errors in
// (XSync, or a request that waits for a reply), caught() tells whether any of them failed.
class X11ErrorTrap {
  public:
    explicit X11ErrorTrap(const X11ErrorLog& log) : log_(log), before_(log.count()) {}
    bool caught() const { return log_.count() != before_; }

  private:
    const X11ErrorLog& log_;
    std::uint64_t before_;
};

}  // namespace varnel
