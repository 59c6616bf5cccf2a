// Internals of X11Keyboard, shared by the files that make it up: the connection and everything typing
// keeps between calls (X11KeyboardConnection.cpp), the keymap journal, its repair and the typing lock
// (X11KeyboardJournal.*), the spare keycodes, the Level3 shift and the keyboard group
// (X11KeyboardSpareKeys.*), and the typing itself (X11KeyboardTyping.cpp).
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Xlibint.h gives the display's fields, such as its resource-id mask (and defines min and max as
// macros); Xlib.h defines Status as a macro.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef min
#undef max
#undef Status

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Errors.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11XimLink.h"

namespace varnel::x11keyboard {

using Clock = std::chrono::steady_clock;

// A round of passing keys through the XIM server took 2 to 20 ms on a busy two-core machine.
constexpr std::chrono::milliseconds XimRoundAllowance{25};

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p != nullptr) {
            XFree(p);
        }
    }
};

struct XkbDeleter {
    void operator()(XkbDescPtr xkb) const {
        if (xkb != nullptr) {
            XkbFreeKeyboard(xkb, 0, True);
        }
    }
};

inline Status firstFailure(Status a, Status b) {
    return a ? b : a;
}

struct ModifierMapDeleter {
    void operator()(XModifierKeymap* map) const {
        if (map != nullptr) {
            XFreeModifiermap(map);
        }
    }
};

inline std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", value);
    return buffer;
}

// The core keyboard mapping of the whole keycode range.
struct Keymap {
    int minKeycode = 0;
    int maxKeycode = 0;
    int perKeycode = 0;
    std::vector<KeySym> syms;

    KeySym at(int keycode, int column) const {
        if (keycode < minKeycode || keycode > maxKeycode || column >= perKeycode) {
            return NoSymbol;
        }
        return syms[static_cast<std::size_t>((keycode - minKeycode) * perKeycode + column)];
    }
    bool isEmpty(int keycode) const {
        for (int c = 0; c < perKeycode; ++c) {
            if (at(keycode, c) != NoSymbol) {
                return false;
            }
        }
        return true;
    }
    // The first keycode carrying sym in column 0 and not in excluded.
    std::optional<KeyCode> find(KeySym sym, const std::vector<bool>& excluded) const {
        for (int k = minKeycode; k <= maxKeycode; ++k) {
            if (at(k, 0) == sym && !excluded[static_cast<std::size_t>(k)]) {
                return static_cast<KeyCode>(k);
            }
        }
        return std::nullopt;
    }
};

// A key, the shift level it is typed at (bit 0 is Shift, bit 1 the Level3 shift) and the keyboard group
// it needs locked: AnyGroup for a key that has one group, which every group falls back to.
constexpr int AnyGroup = -1;
struct Stroke {
    KeyCode keycode = 0;
    int level = 0;
    int group = AnyGroup;
};

// The connection and everything typing keeps between calls.
struct Connection {
    Display* display = nullptr;
    X11Keyboard::Options options;
    // Protocol errors on our connection: collected only by XSync or a reply, so queued events are read
    // only after an XSync, when no error can be outstanding.
    std::unique_ptr<X11ErrorLog> errors;
    std::atomic<bool> connectionLost{false};
    bool xkb = false;
    X11Keyboard::TypingStats stats;
    Window root = 0;
    Window lockWindow = 0;  // owns the typing selection while we type
    Atom lockAtom = 0;
    Time lockTime = CurrentTime;      // the server time we took the typing selection at
    bool lockLost = false;            // another client has taken it since
    Time propertyTime = CurrentTime;  // of the last property change on lockWindow
    Atom journalAtom = 0;
    Atom journalType = 0;
    KeyCode escapeKeycode = 0;
    bool escapePressed = false;
    Atom protocolsAtom = 0;
    Atom pingAtom = 0;
    Window pingTarget = 0;   // the top-level window of the client that has the focus
    Window targetFrame = 0;  // the child of the root window that holds it (the window manager's frame)
    XID targetClient = 0;    // that client's resource base; 0 when the focus was on no client window
    bool targetAnswers = false;
    Window answeringTarget = 0;  // the last target that answered the ping before a typing
    long pingSerial = 0;
    bool pingAnswered = false;
    // The session's XIM server while we wait on it; ximFailed once it did not answer in time.
    std::unique_ptr<XimLink> xim;
    bool ximFailed = false;
    Window silentXimServer = 0;  // one that did not answer: not waited for again while it is the one
    // Key events sent since the XIM server last passed on everything before; of them, those up to the
    // last key typed on a spare keycode.
    int keyEventsSinceXim = 0;
    int keyEventsToLastSpare = 0;
    bool ximPassed = false;  // the last waitForXimClient saw every key event sent come back through it
    // The caller's hook, also called while we wait for a slow target; stop is set once it said so.
    const Keyboard::BetweenSlices* betweenSlices = nullptr;
    bool stop = false;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // Waits until the server has handled every request so far and reports the first error among them.
    Status sync(const std::string& what);

    // The second half of sync, after another round trip: the events it brought and the first error.
    Status takeEvents(const std::string& what);

    Status key(KeyCode keycode, bool press);

    Result<Keymap> readKeymap();

    // Keycodes bound to a modifier, indexed by keycode.
    Result<std::vector<bool>> modifierKeycodes();

    // Waits (bounded) until no modifier key is down. False when some stayed down.
    Result<bool> waitForModifierRelease(const std::vector<bool>& modifiers);

    static bool isDown(const char* keys, int keycode);

    // Is Escape down now? For when it could not be grabbed.
    bool escapeDown();

    void settle() { std::this_thread::sleep_for(options.remapSettle); }

    // The server's clock now: the time of an empty append to a property of our window.
    Result<Time> serverTime();

    // Whether we still own the typing selection; a failure once another client has taken it.
    Status typingLockHeld();

    // Waits until keycode is down (or up) in the keyboard's logical state, which the server updates as it
    // handles key events: false when it is not by the deadline. While another client's grab freezes the
    // keyboard, the events wait in the server and that state stays as it was.
    Result<bool> waitForKeyState(KeyCode keycode, bool down, Clock::time_point deadline);

    // Nothing may be held down when this is called.
    void callBetweenSlices();

    // Whether the focus is still on a window of the client that had it when the typing began. A round trip
    // (the one XSync makes): the requests before it are handled once it returns.
    bool focusStayed();

    // The keyboard group locked now; -1 when it cannot be read.
    int lockedGroup();

    // The window's parent; 0 when it has none or is gone.
    Window parentOf(Window window);

    // The window to pace the typing with: from the focus window up to the highest window of the same
    // client, its top-level. 0 when the focus is on no client window. Also the child of the root that
    // holds it (the window manager's frame, or the top-level itself).
    void findPingTarget();

    // Whether a mouse button is down with the pointer outside the target's window: the user clicking
    // elsewhere, on our window above all, to stop the typing. A window manager that takes clicks with a
    // synchronous grab (openbox, fluxbox) holds such a click back until it has handled what came before
    // it, the keymap changes included; the button's state shows at once.
    bool buttonDownOutsideTarget();

    // Sends the target a _NET_WM_PING and waits (at most bound) for its answer, which comes once it has
    // handled every event sent to it before; the caller's events are handled meanwhile.
    bool ping(std::chrono::milliseconds bound);

    // Handles events until done() or bound has passed; the caller's hook runs meanwhile. False when
    // done() did not come true, also when the connection failed.
    template <class Done>
    bool waitUntil(Done done, std::chrono::milliseconds bound, const char* what) {
        const auto deadline = Clock::now() + bound;
        auto sliceStart = Clock::now();
        while (sync(what) && !done() && Clock::now() < deadline) {
            pollfd readable{ConnectionNumber(display), POLLIN, 0};
            poll(&readable, 1, 5);
            if (Clock::now() - sliceStart >= options.slice) {
                callBetweenSlices();
                sliceStart = Clock::now();
            }
        }
        return done();
    }

    // Connects to the session's XIM server, if it names one that runs. A server that does not answer in
    // time is given up, and typing falls back to fixed waits for it.
    void connectXim();

    // The link just goes, as a client that exits does: after a disconnect request ibus's XIM server
    // answered no new client any more.
    void disconnectXim();

    void giveUpXim();

    // Rounds of asking the XIM server, then the target: each passes at least one more key event through.
    // All of them within options.ximPassBound, or XimRoundAllowance each where that is longer, or the
    // server counts as silent.
    void passThroughXim(int rounds);

    // Waits until the input method has sent back the keys its clients handed it so far (they come back
    // before its answer to a request sent after them). False when it did not answer in time.
    bool waitForXim();

    // Waits until the client with the focus has handled the keys sent so far: its answer to a ping comes
    // after them (at most pingBound; on a loaded machine a paste key can take a second to be handled, and
    // the clipboard must not be given back before). A client that may not be pinged is given fixedWait.
    void waitForFocusedClient(std::chrono::milliseconds fixedWait, std::chrono::milliseconds pingBound);

    // Waits until the keys sent so far have reached the focused client through the session's XIM server,
    // if there is one: an input method switched back on then composes none of them. Only a client that
    // lists pings or has answered one is pinged (see X11WindowAnnouncesPing): the typing's probe, or the
    // ping of waitForFocusedClient just before (a typing of keymap keys alone probes nothing).
    void waitForXimClient();

    // Whether the target answers pings at all (many do without saying so in WM_PROTOCOLS): asked once
    // before the typing, while the target is idle. Xt programs such as xterm are never asked: they take
    // any WM_PROTOCOLS message for a close request.
    void probeTarget();

    // Waits until the target has handled the keys sent so far; a target that stops answering is paced
    // by fixed waits from then on.
    // Through an XIM server the keys make a round trip to it after the target has read them, and the
    // target looks them up as they come back. fcitx5 was seen passing them back a few at a time, the
    // next once the target had acknowledged the last: every round of asking the server, then the target,
    // moves that on by at least one key event, so there are as many rounds as key events sent since the
    // last wait, up to the last key typed on a spare keycode.
    // A target that missed a ping's bound (a loaded machine) may answer it later: the fixed wait is spent
    // listening for that answer, and a target that gave it paces the typing again.
    void waitForTarget();
};

}  // namespace varnel::x11keyboard

namespace varnel {

struct X11Keyboard::Impl : x11keyboard::Connection {};

}  // namespace varnel
