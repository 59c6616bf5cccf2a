#include "platform/x11/X11Keyboard.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <unordered_map>
#include <utility>

// Xlibint.h declares the per-display error hooks (and defines min and max as macros); Xlib.h defines
// Status as a macro.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef min
#undef max
#undef Status

#include "core/Utf16.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11XimLink.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t UnicodeKeysymBase = 0x1000000;
constexpr std::uint32_t ReplacementCharacter = 0xFFFD;

// Protocol errors on our connection. Xlib hands every error met while it waits for a reply (XSync
// included) to the error hooks of the display's extensions before the process-wide handler; a hook of our
// own records the error and marks it handled, so nothing here depends on the process-wide handler, which
// belongs to the toolkit. Errors are only ever collected by XSync or a reply: queued events are read only
// after an XSync, when no error can be outstanding.
struct ErrorRecord {
    int code = 0;
    int request = 0;
    int minor = 0;
    bool connectionLost = false;
};

std::mutex registryMutex;
std::vector<std::pair<Display*, ErrorRecord*>>& registry() {
    static std::vector<std::pair<Display*, ErrorRecord*>> displays;
    return displays;
}

ErrorRecord* recordFor(Display* display) {
    for (auto& [d, record] : registry()) {
        if (d == display) {
            return record;
        }
    }
    return nullptr;
}

int onProtocolError(Display* display, xError* error, XExtCodes*, int* returnCode) {
    std::lock_guard lock(registryMutex);
    ErrorRecord* record = recordFor(display);
    if (record == nullptr) {
        return False;
    }
    if (record->code == 0) {
        record->code = error->errorCode;
        record->request = error->majorCode;
        record->minor = error->minorCode;
    }
    *returnCode = 0;  // a request that wanted a reply reports failure
    return True;
}

// A lost connection ends the process in Xlib's default handlers. For our display the process-wide handler
// returns (to whatever the toolkit installed for other displays otherwise) and the per-display exit handler
// only marks the connection dead; every later call then fails.
XIOErrorHandler previousIoHandler = nullptr;

int onIoError(Display* display) {
    {
        std::lock_guard lock(registryMutex);
        if (recordFor(display) != nullptr) {
            return 0;
        }
    }
    return previousIoHandler != nullptr ? previousIoHandler(display) : 0;
}

void onIoExit(Display* display, void*) {
    std::lock_guard lock(registryMutex);
    if (ErrorRecord* record = recordFor(display)) {
        record->connectionLost = true;
    }
}

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

Status firstFailure(Status a, Status b) {
    return a ? b : a;
}

struct ModifierMapDeleter {
    void operator()(XModifierKeymap* map) const {
        if (map != nullptr) {
            XFreeModifiermap(map);
        }
    }
};

std::string hex(std::uint32_t value) {
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

// A stretch of the text typed on one mapping of the spare keycodes. symbols are the keysyms the stretch
// needs on spare keycodes (none when it needs no remap), in the order they are assigned.
struct Stretch {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::vector<KeySym> symbols;
};

// Cuts the text into as few stretches as possible, each needing at most capacity distinct keysyms that
// the keymap lacks. Extending a stretch as far as it goes is optimal: a part of a valid stretch is valid.
std::vector<Stretch> planStretches(const std::vector<std::uint32_t>& keysyms,
                                   const std::unordered_map<KeySym, Stroke>& direct, std::size_t capacity) {
    std::vector<Stretch> stretches(1);
    std::vector<KeySym>* symbols = &stretches.back().symbols;
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const KeySym sym = keysyms[i];
        if (direct.count(sym) != 0 || std::find(symbols->begin(), symbols->end(), sym) != symbols->end()) {
            continue;
        }
        if (symbols->size() == capacity) {
            stretches.back().end = i;
            stretches.push_back(Stretch{i, i, {}});
            symbols = &stretches.back().symbols;
        }
        symbols->push_back(sym);
    }
    stretches.back().end = keysyms.size();
    return stretches;
}

// The connection and everything typing keeps between calls.
struct Connection {
    Display* display = nullptr;
    X11Keyboard::Options options;
    ErrorRecord errors;
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
    // The caller's hook, also called while we wait for a slow target; stop is set once it said so.
    const Keyboard::BetweenSlices* betweenSlices = nullptr;
    bool stop = false;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (display == nullptr) {
            return;
        }
        if (!errors.connectionLost) {
            XSync(display, False);
        }
        {
            std::lock_guard lock(registryMutex);
            auto& displays = registry();
            displays.erase(std::remove_if(displays.begin(), displays.end(),
                                          [this](const auto& entry) { return entry.first == display; }),
                           displays.end());
        }
        XCloseDisplay(display);
    }

    // Waits until the server has handled every request so far and reports the first error among them.
    Status sync(const std::string& what) {
        if (!errors.connectionLost) {
            XSync(display, False);
        }
        return takeEvents(what);
    }

    // The second half of sync, after another round trip: the events it brought and the first error.
    Status takeEvents(const std::string& what) {
        if (errors.connectionLost) {
            return Status::failure(what + ": the connection to the X server is lost");
        }
        while (XEventsQueued(display, QueuedAlready) > 0) {
            XEvent event;
            XNextEvent(display, &event);  // mapping notifications, and Escape while it is grabbed
            if (xim && xim->take(event)) {
                continue;
            }
            if (event.type == KeyPress && escapeKeycode != 0 && event.xkey.keycode == escapeKeycode) {
                escapePressed = true;
            }
            if (event.type == PropertyNotify && event.xproperty.window == lockWindow) {
                propertyTime = event.xproperty.time;
            }
            if (event.type == SelectionClear && event.xselectionclear.window == lockWindow &&
                event.xselectionclear.selection == lockAtom) {
                lockLost = true;
            }
            if (event.type == ClientMessage && event.xclient.message_type == protocolsAtom &&
                event.xclient.format == 32 && static_cast<Atom>(event.xclient.data.l[0]) == pingAtom &&
                event.xclient.data.l[1] == pingSerial) {
                pingAnswered = true;
            }
        }
        if (errors.code != 0) {
            char text[128] = {};
            XGetErrorText(display, errors.code, text, sizeof text);
            const std::string why = what + ": X error " + text + " (request " +
                                    std::to_string(errors.request) + "." + std::to_string(errors.minor) + ")";
            errors.code = 0;
            return Status::failure(why);
        }
        return Status::success();
    }

    Status key(KeyCode keycode, bool press) {
        if (errors.connectionLost) {
            return Status::failure("the connection to the X server is lost");
        }
        if (XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime) == 0) {
            return Status::failure("XTest refused a key event");
        }
        ++keyEventsSinceXim;
        return Status::success();
    }

    Result<Keymap> readKeymap() {
        Keymap map;
        int reportedMin = 0, reportedMax = 0;
        XDisplayKeycodes(display, &reportedMin, &reportedMax);
        const X11Keyboard::KeycodeRange range = X11Keyboard::coreKeycodeRange(reportedMin, reportedMax);
        map.minKeycode = range.first;
        map.maxKeycode = range.last;
        const int count = map.maxKeycode - map.minKeycode + 1;
        if (count <= 0) {
            return Result<Keymap>::failure("the keyboard reports no keycode between 8 and 255");
        }
        std::unique_ptr<KeySym, XFreeDeleter> syms(
            XGetKeyboardMapping(display, static_cast<KeyCode>(map.minKeycode), count, &map.perKeycode));
        if (!syms || map.perKeycode <= 0) {
            Status status = sync("reading the keyboard mapping");
            return Result<Keymap>::failure(status ? "the keyboard mapping could not be read"
                                                  : status.error());
        }
        map.syms.assign(syms.get(), syms.get() + static_cast<std::size_t>(count * map.perKeycode));
        return Result<Keymap>::success(std::move(map));
    }

    // Keycodes bound to a modifier, indexed by keycode.
    Result<std::vector<bool>> modifierKeycodes() {
        std::unique_ptr<XModifierKeymap, ModifierMapDeleter> map(XGetModifierMapping(display));
        if (!map) {
            Status status = sync("reading the modifier mapping");
            return Result<std::vector<bool>>::failure(status ? "the modifier mapping could not be read"
                                                             : status.error());
        }
        std::vector<bool> keycodes(256, false);
        for (int i = 0; i < 8 * map->max_keypermod; ++i) {
            if (map->modifiermap[i] != 0) {
                keycodes[map->modifiermap[i]] = true;
            }
        }
        return Result<std::vector<bool>>::success(std::move(keycodes));
    }

    // Waits (bounded) until no modifier key is down. False when some stayed down.
    Result<bool> waitForModifierRelease(const std::vector<bool>& modifiers) {
        const auto deadline = Clock::now() + options.modifierReleaseBound;
        for (;;) {
            char keys[32] = {};
            XQueryKeymap(display, keys);
            if (Status status = sync("reading the key states"); !status) {
                return Result<bool>::failure(status.error());
            }
            bool held = false;
            for (int k = 0; k < 256 && !held; ++k) {
                held = modifiers[static_cast<std::size_t>(k)] && isDown(keys, k);
            }
            if (!held) {
                return Result<bool>::success(true);
            }
            if (Clock::now() >= deadline) {
                return Result<bool>::success(false);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    static bool isDown(const char* keys, int keycode) {
        return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    }

    // Is Escape down now? For when it could not be grabbed.
    bool escapeDown() {
        if (escapeKeycode == 0) {
            return false;
        }
        char keys[32] = {};
        XQueryKeymap(display, keys);
        return isDown(keys, escapeKeycode);
    }

    void settle() { std::this_thread::sleep_for(options.remapSettle); }

    // The server's clock now: the time of an empty append to a property of our window.
    Result<Time> serverTime() {
        propertyTime = CurrentTime;
        XChangeProperty(display, lockWindow, lockAtom, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        if (Status status = sync("reading the server time"); !status) {
            return Result<Time>::failure(status.error());
        }
        if (propertyTime == CurrentTime) {
            return Result<Time>::failure("the X server did not report its time");
        }
        return Result<Time>::success(propertyTime);
    }

    // Whether we still own the typing selection; a failure once another client has taken it.
    Status typingLockHeld() {
        const Window owner = XGetSelectionOwner(display, lockAtom);
        Status status = sync("checking the typing lock");
        if (status && (lockLost || owner != lockWindow)) {
            return Status::failure(
                "typing stopped: another program took over typing on this display (the _VARNEL_TYPING "
                "selection)");
        }
        return status;
    }

    // Waits until keycode is down (or up) in the keyboard's logical state, which the server updates as it
    // handles key events: false when it is not by the deadline. While another client's grab freezes the
    // keyboard, the events wait in the server and that state stays as it was.
    Result<bool> waitForKeyState(KeyCode keycode, bool down, Clock::time_point deadline) {
        for (;;) {
            char keys[32] = {};
            XQueryKeymap(display, keys);
            if (Status status = sync("reading the key states"); !status) {
                return Result<bool>::failure(status.error());
            }
            if (isDown(keys, keycode) == down) {
                return Result<bool>::success(true);
            }
            stats.heldBack = true;
            if (Clock::now() >= deadline) {
                return Result<bool>::success(false);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // Nothing may be held down when this is called.
    void callBetweenSlices() {
        if (!stop && betweenSlices != nullptr && *betweenSlices && !(*betweenSlices)()) {
            stop = true;
        }
        // The caller's events may have let another client take the typing lock: asked at once, since this
        // may run inside a wait and the typing loop would otherwise carry on to its next slice first.
        if (!stop && betweenSlices != nullptr && XGetSelectionOwner(display, lockAtom) != lockWindow) {
            lockLost = true;
            stop = true;
        }
        // The focus gone to another client (a click-to-focus window manager gives it to the window clicked,
        // ours included) ends the typing: the next keys would go there.
        if (!stop && (!focusStayed() || buttonDownOutsideTarget())) {
            stop = true;
        }
    }

    // Whether the focus is still on a window of the client that had it when the typing began. A round trip
    // (the one XSync makes): the requests before it are handled once it returns.
    bool focusStayed() {
        if (errors.connectionLost) {
            return false;
        }
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        return targetClient == 0 ||
               (focus > PointerRoot && (focus & ~display->resource_mask) == targetClient);
    }

    // The keyboard group locked now; -1 when it cannot be read.
    int lockedGroup() {
        XkbStateRec state{};
        return XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.locked_group : -1;
    }

    // The window's parent; 0 when it has none or is gone.
    Window parentOf(Window window) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0) {
            return 0;
        }
        if (children != nullptr) {
            XFree(children);
        }
        return parent;
    }

    // The window to pace the typing with: from the focus window up to the highest window of the same
    // client, its top-level. 0 when the focus is on no client window. Also the child of the root that
    // holds it (the window manager's frame, or the top-level itself).
    void findPingTarget() {
        pingTarget = 0;
        targetClient = 0;
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        const XID client = focus & ~display->resource_mask;
        for (Window window = focus; window > PointerRoot && window != root;) {
            if ((window & ~display->resource_mask) != client) {
                break;
            }
            pingTarget = window;
            targetClient = client;
            window = parentOf(window);
        }
        targetFrame = 0;
        for (Window window = pingTarget; window != 0 && window != root;) {
            const Window parent = parentOf(window);
            if (parent == root) {
                targetFrame = window;
            }
            window = parent;
        }
        IgnoreFailure(sync("finding the target window"), "a window gone meanwhile is simply not pinged");
    }

    // Whether a mouse button is down with the pointer outside the target's window: the user clicking
    // elsewhere, on our window above all, to stop the typing. A window manager that takes clicks with a
    // synchronous grab (openbox, fluxbox) holds such a click back until it has handled what came before
    // it, the keymap changes included; the button's state shows at once.
    bool buttonDownOutsideTarget() {
        if (targetFrame == 0 || errors.connectionLost) {
            return false;
        }
        Window rootReturn = 0, child = 0;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        if (!XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask)) {
            return false;  // the pointer is on another screen
        }
        return (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0 && child != targetFrame;
    }

    // Sends the target a _NET_WM_PING and waits (at most bound) for its answer, which comes once it has
    // handled every event sent to it before; the caller's events are handled meanwhile.
    bool ping(std::chrono::milliseconds bound) {
        pingAnswered = false;
        SendX11ClientMessage(display, pingTarget, protocolsAtom,
                             {static_cast<long>(pingAtom), ++pingSerial, static_cast<long>(pingTarget)});
        return waitUntil([this] { return pingAnswered; }, bound, "waiting for the target");
    }

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
    void connectXim() {
        const char* modifiers = std::getenv("XMODIFIERS");
        const Window server = XimLink::findServer(display, root, modifiers != nullptr ? modifiers : "");
        if (!sync("looking for the input method") || server == 0) {
            return;
        }
        stats.ximServer = true;
        if (server == silentXimServer) {
            ximFailed = stats.ximSilent = true;
            return;
        }
        xim = std::make_unique<XimLink>(display, root, server);
        if (!waitUntil([this] { return xim->ready() || xim->failed(); }, options.ximBound,
                       "connecting to the input method") ||
            !xim->ready()) {
            silentXimServer = server;
            giveUpXim();
        }
    }

    // The link just goes, as a client that exits does: after a disconnect request ibus's XIM server
    // answered no new client any more.
    void disconnectXim() {
        if (xim) {
            xim.reset();
            IgnoreFailure(sync("leaving the input method"), "the link is gone either way");
        }
    }

    void giveUpXim() {
        xim.reset();
        ximFailed = true;
        stats.ximSilent = true;
        IgnoreFailure(sync("giving up the input method"), "the link is gone either way");
    }

    // Rounds of asking the XIM server, then the target: each passes at least one more key event through.
    // All of them within options.ximPassBound, or the server counts as silent.
    void passThroughXim(int rounds) {
        const auto deadline = Clock::now() + options.ximPassBound;
        for (int round = 0; round <= rounds && xim && targetAnswers; ++round) {
            if (Clock::now() > deadline) {
                giveUpXim();
            } else if (waitForXim()) {
                targetAnswers = ping(options.targetBound);
                stats.targetAnswered = targetAnswers;
            }
        }
    }

    // Waits until the input method has sent back the keys its clients handed it so far (they come back
    // before its answer to a request sent after them). False when it did not answer in time.
    bool waitForXim() {
        xim->ask();
        if (waitUntil([this] { return xim->answered() || xim->failed(); }, options.ximBound,
                      "waiting for the input method") &&
            !xim->failed()) {
            return true;
        }
        giveUpXim();
        return false;
    }

    // Waits until the client with the focus has handled the keys sent so far: its answer to a ping comes
    // after them (at most pingBound; on a loaded machine a paste key can take a second to be handled, and
    // the clipboard must not be given back before). A client that may not be pinged is given fixedWait.
    void waitForFocusedClient(std::chrono::milliseconds fixedWait, std::chrono::milliseconds pingBound) {
        findPingTarget();
        pingAnswered = false;
        if (pingTarget != 0 && X11WindowMayBeProbedWithPing(display, pingTarget)) {
            XSelectInput(display, root, SubstructureNotifyMask);  // the answers come to the root
            ping(pingBound);
            XSelectInput(display, root, NoEventMask);
        }
        if (!pingAnswered) {
            std::this_thread::sleep_for(fixedWait);
        }
    }

    // Waits until the keys sent so far have reached the focused client through the session's XIM server,
    // if there is one: an input method switched back on then composes none of them. Only a client that
    // lists pings or has answered one is pinged (see X11WindowAnnouncesPing).
    void waitForXimClient() {
        if (pingTarget != 0 && keyEventsSinceXim > 0 &&
            (pingTarget == answeringTarget || X11WindowAnnouncesPing(display, pingTarget))) {
            XSelectInput(display, root, SubstructureNotifyMask);  // the answers come to the root
            ximFailed = false;
            connectXim();
            if (xim) {
                targetAnswers = ping(options.targetBound);
                passThroughXim(keyEventsSinceXim);
            }
            disconnectXim();
            XSelectInput(display, root, NoEventMask);
            if (ximFailed) {
                std::this_thread::sleep_for(options.ximSettle);
            }
        }
        keyEventsSinceXim = 0;
        keyEventsToLastSpare = 0;
    }

    // Whether the target answers pings at all (many do without saying so in WM_PROTOCOLS): asked once
    // before the typing, while the target is idle. Xt programs such as xterm are never asked: they take
    // any WM_PROTOCOLS message for a close request.
    void probeTarget() {
        targetAnswers = pingTarget != 0 && X11WindowMayBeProbedWithPing(display, pingTarget) &&
                        ping(std::chrono::milliseconds(250));
        stats.targetAnswered = targetAnswers;
        answeringTarget = targetAnswers ? pingTarget : 0;
    }

    // Waits until the target has handled the keys sent so far; a target that stops answering is paced
    // by fixed waits from then on.
    // Through an XIM server the keys make a round trip to it after the target has read them, and the
    // target looks them up as they come back. fcitx5 was seen passing them back a few at a time, the
    // next once the target had acknowledged the last: every round of asking the server, then the target,
    // moves that on by at least one key event, so there are as many rounds as key events sent since the
    // last wait, up to the last key typed on a spare keycode.
    // A target that missed a ping's bound (a loaded machine) may answer it later: the fixed wait is spent
    // listening for that answer, and a target that gave it paces the typing again.
    void waitForTarget() {
        bool waited = false;
        if (!targetAnswers && pingTarget != 0) {
            targetAnswers =
                waitUntil([this] { return pingAnswered; }, options.remapSettle, "waiting for the target");
            waited = !targetAnswers;
        }
        if (targetAnswers) {
            targetAnswers = ping(options.targetBound);
            stats.targetAnswered = targetAnswers;
        }
        if (xim && targetAnswers) {
            passThroughXim(keyEventsToLastSpare);
            keyEventsSinceXim -= keyEventsToLastSpare;
            keyEventsToLastSpare = 0;
        }
        if (!targetAnswers && !waited) {
            settle();
        }
        if (ximFailed || (xim && !targetAnswers)) {
            std::this_thread::sleep_for(options.ximSettle);
        }
    }
};

// The record of a typing's changes to the keyboard, kept on the root window (property
// _VARNEL_KEYMAP_JOURNAL of type _VARNEL_KEYMAP_RECORD, 32-bit words) while they last. Words: magic,
// version, the writer's nonce, the keymap's lowest and highest keycode, Caps Lock switched off (0 or 1),
// the keyboard group locked by typing (0 or 1) and the locked group to give back, levels per group L (2
// or 4), groups per keycode G (1 to 4), the key type the spare keycodes are given, the two modifier keys
// typing presses (Shift, the Level3 shift or 0), the number N of spare keycodes, then per spare keycode
// its number, the G * L keysyms it held before the change under way and the G * L it is being given, and
// last a checksum of all the words before it. A killed typing leaves it behind; the next start undoes what it
// names (see repairLeftovers). Any client may write a root property, so a record is read as untrusted.
struct KeymapRecord {
    static constexpr long Magic = 0x56524E4C;
    static constexpr long Version = 3;
    static constexpr std::size_t Header = 14;

    long nonce = 0;
    int minKeycode = 0;
    int maxKeycode = 0;
    bool capsLockOff = false;
    bool groupLocked = false;
    int lockedGroupBefore = 0;
    int levels = 0;
    int groups = 1;
    int type = 0;
    int shift = 0;
    int levelThree = 0;
    std::vector<KeyCode> keycodes;
    std::vector<KeySym> before, after;  // groups * levels per keycode each

    std::size_t perKeycode() const { return static_cast<std::size_t>(groups * levels); }

    static long checksum(const long* words, std::size_t count) {
        std::uint32_t hash = 2166136261u;  // FNV-1a over the words' bytes
        for (std::size_t i = 0; i < count; ++i) {
            for (int byte = 0; byte < 4; ++byte) {
                hash = (hash ^ ((static_cast<std::uint32_t>(words[i]) >> (8 * byte)) & 0xFF)) * 16777619u;
            }
        }
        return static_cast<long>(hash & 0x7FFFFFFF);
    }

    std::vector<long> encode() const {
        std::vector<long> words{Magic,
                                Version,
                                nonce,
                                minKeycode,
                                maxKeycode,
                                capsLockOff ? 1 : 0,
                                groupLocked ? 1 : 0,
                                lockedGroupBefore,
                                levels,
                                groups,
                                type,
                                shift,
                                levelThree,
                                static_cast<long>(keycodes.size())};
        const std::size_t per = perKeycode();
        for (std::size_t k = 0; k < keycodes.size(); ++k) {
            words.push_back(keycodes[k]);
            words.insert(words.end(), before.begin() + static_cast<std::ptrdiff_t>(k * per),
                         before.begin() + static_cast<std::ptrdiff_t>((k + 1) * per));
            words.insert(words.end(), after.begin() + static_cast<std::ptrdiff_t>(k * per),
                         after.begin() + static_cast<std::ptrdiff_t>((k + 1) * per));
        }
        words.push_back(checksum(words.data(), words.size()));
        return words;
    }

    // The record the words hold, or nothing when any of them is out of place.
    static std::optional<KeymapRecord> decode(const long* words, std::size_t count) {
        if (count < Header + 1 || words[0] != Magic || words[1] != Version ||
            words[count - 1] != checksum(words, count - 1)) {
            return std::nullopt;
        }
        if (std::any_of(words, words + count, [](long w) { return w < 0 || w > 0x7FFFFFFF; })) {
            return std::nullopt;
        }
        KeymapRecord record;
        record.nonce = words[2];
        record.minKeycode = static_cast<int>(std::min(words[3], 256L));
        record.maxKeycode = static_cast<int>(std::min(words[4], 256L));
        record.lockedGroupBefore = static_cast<int>(std::min(words[7], 256L));
        record.levels = static_cast<int>(std::min(words[8], 256L));
        record.groups = static_cast<int>(std::min(words[9], 256L));
        record.type = static_cast<int>(std::min(words[10], 256L));
        record.shift = static_cast<int>(std::min(words[11], 256L));
        record.levelThree = static_cast<int>(std::min(words[12], 256L));
        const std::size_t keycodes = static_cast<std::size_t>(std::min(words[13], 256L));
        auto isKeycode = [&record](long k) { return k >= record.minKeycode && k <= record.maxKeycode; };
        if (record.minKeycode < 8 || record.maxKeycode > 255 || record.minKeycode > record.maxKeycode ||
            words[5] > 1 || words[6] > 1 || record.lockedGroupBefore >= XkbNumKbdGroups ||
            (record.levels != 2 && record.levels != 4) || record.groups < 1 ||
            record.groups > XkbNumKbdGroups || record.type > 255 ||
            (record.shift != 0 && !isKeycode(record.shift)) ||
            (record.levelThree != 0 && !isKeycode(record.levelThree)) ||
            count !=
                Header + keycodes * (1 + 2 * static_cast<std::size_t>(record.groups * record.levels)) + 1) {
            return std::nullopt;
        }
        record.capsLockOff = words[5] == 1;
        record.groupLocked = words[6] == 1;
        const std::size_t per = record.perKeycode();
        std::vector<bool> seen(256, false);
        for (std::size_t k = 0, at = Header; k < keycodes; ++k, at += 1 + 2 * per) {
            const long keycode = words[at];
            if (!isKeycode(keycode) || seen[static_cast<std::size_t>(keycode)]) {
                return std::nullopt;
            }
            seen[static_cast<std::size_t>(keycode)] = true;
            record.keycodes.push_back(static_cast<KeyCode>(keycode));
            for (std::size_t l = 0; l < 2 * per; ++l) {
                const long sym = words[at + 1 + l];
                if (sym > 0x1FFFFFFF) {
                    return std::nullopt;
                }
                (l < per ? record.before : record.after).push_back(static_cast<KeySym>(sym));
            }
        }
        return record;
    }
};

// Keeps the record up to date: written before every change, rewritten as each change is given back
// (spare keycodes back: dropped from it; Caps Lock back: its flag cleared) and deleted once nothing is
// left to give back, whether the typing succeeded or not. Once written, the record is only rewritten while
// it is still ours (its nonce), checked under a server grab: a client that took the typing lock from us
// may have written its own.
class Journal {
  public:
    Journal(Connection& keyboard, const Keymap& map, KeyCode shift, KeyCode levelThree)
        : keyboard_(keyboard) {
        record_.nonce = static_cast<long>(std::random_device{}() & 0x7FFFFFFF);
        record_.minKeycode = map.minKeycode;
        record_.maxKeycode = map.maxKeycode;
        record_.shift = shift;
        record_.levelThree = levelThree;
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    Status capsLockOff() {
        record_.capsLockOff = true;
        return store();
    }
    Status capsLockBack() {
        record_.capsLockOff = false;
        return store();
    }
    Status groupLocked(int groupBefore) {
        record_.groupLocked = true;
        record_.lockedGroupBefore = groupBefore;
        return store();
    }
    Status groupBack() {
        record_.groupLocked = false;
        return store();
    }
    // Recorded before the spare keycodes go from before to after (groups * levels keysyms per keycode
    // each, key type type in every group).
    Status remap(const std::vector<KeyCode>& keycodes, int levels, int groups, int type,
                 const std::vector<KeySym>& before, const std::vector<KeySym>& after) {
        record_.keycodes = keycodes;
        record_.levels = levels;
        record_.groups = groups;
        record_.type = type;
        record_.before = before;
        record_.after = after;
        return store();
    }
    Status spareKeycodesBack() {
        record_.keycodes.clear();
        record_.before.clear();
        record_.after.clear();
        return store();
    }

  private:
    Status store() {
        if (disowned_) {
            return Status::success();
        }
        const bool empty = !record_.capsLockOff && !record_.groupLocked && record_.keycodes.empty();
        if (empty && !written_) {
            return Status::success();
        }
        Display* display = keyboard_.display;
        if (written_) {
            XGrabServer(display);
            disowned_ = !stillOurs();
        }
        if (!disowned_ && empty) {
            XDeleteProperty(display, keyboard_.root, keyboard_.journalAtom);
        } else if (!disowned_) {
            const std::vector<long> words = record_.encode();
            XChangeProperty(display, keyboard_.root, keyboard_.journalAtom, keyboard_.journalType, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(words.data()),
                            static_cast<int>(words.size()));
        }
        if (written_) {
            XUngrabServer(display);
        }
        written_ = !empty;
        return keyboard_.sync(empty ? "clearing the keymap record" : "recording the keymap change");
    }

    // The record on the root window is gone or carries our nonce.
    bool stillOurs() {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* raw = nullptr;
        XGetWindowProperty(keyboard_.display, keyboard_.root, keyboard_.journalAtom, 0, 3, False,
                           AnyPropertyType, &type, &format, &count, &after, &raw);
        std::unique_ptr<unsigned char, XFreeDeleter> owned(raw);
        return type == 0 || (type == keyboard_.journalType && format == 32 && count == 3 &&
                             reinterpret_cast<const long*>(raw)[2] == record_.nonce);
    }

    Connection& keyboard_;
    KeymapRecord record_;
    bool written_ = false;
    bool disowned_ = false;
};

// Whether keycode holds exactly row (groups * levels keysyms) as typing gives it to a spare keycode:
// groups groups of the key type type, levels wide. An empty row: the keycode holds no keysym at all.
bool holdsExactly(XkbDescPtr xkb, int keycode, int type, int levels, int groups, const KeySym* row) {
    const int width = groups * levels;
    if (std::all_of(row, row + width, [](KeySym sym) { return sym == NoSymbol; })) {
        const KeySym* syms = XkbKeySymsPtr(xkb, keycode);
        return std::all_of(syms, syms + XkbKeyNumSyms(xkb, keycode),
                           [](KeySym sym) { return sym == NoSymbol; });
    }
    if (XkbKeyNumGroups(xkb, keycode) != groups || XkbKeyGroupsWidth(xkb, keycode) != levels) {
        return false;
    }
    for (int g = 0; g < groups; ++g) {
        if (XkbKeyKeyTypeIndex(xkb, keycode, g) != type) {
            return false;
        }
    }
    return std::equal(row, row + width, XkbKeySymsPtr(xkb, keycode));
}

// The key that shifts to levels 3 and 4, and a key type of the keymap that gives four levels for Shift
// and that key's modifier, in the usual order. Empty when the keymap has no such pair.
struct LevelThree {
    KeyCode key = 0;
    int type = -1;
};

std::optional<LevelThree> findLevelThree(Connection& keyboard, const Keymap& map) {
    std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
        XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbModifierMapMask, XkbUseCoreKbd));
    if (!xkb || xkb->map == nullptr || xkb->map->modmap == nullptr) {
        IgnoreFailure(keyboard.sync("reading the keyboard map"), "the map is missing either way");
        return std::nullopt;
    }
    LevelThree found;
    unsigned mask = 0;
    for (int k = map.minKeycode; k <= map.maxKeycode && found.key == 0; ++k) {
        const unsigned mods =
            xkb->map->modmap[k] & ~static_cast<unsigned>(ShiftMask | LockMask | ControlMask);
        if (map.at(k, 0) == XK_ISO_Level3_Shift && mods != 0) {
            found.key = static_cast<KeyCode>(k);
            mask = mods;
        }
    }
    for (int t = 0; t < xkb->map->num_types && found.key != 0 && found.type < 0; ++t) {
        const XkbKeyTypeRec& type = xkb->map->types[t];
        auto level = [&type](unsigned mods) {
            mods &= type.mods.mask;
            for (int e = 0; e < type.map_count; ++e) {
                if (type.map[e].active && type.map[e].mods.mask == mods) {
                    return static_cast<int>(type.map[e].level);
                }
            }
            return 0;
        };
        if (type.num_levels == 4 && level(0) == 0 && level(ShiftMask) == 1 && level(mask) == 2 &&
            level(ShiftMask | mask) == 3) {
            found.type = t;
        }
    }
    if (found.type < 0) {
        return std::nullopt;
    }
    return found;
}

// Ownership of the typing selection for the duration: two typing clients on one display would fight
// over the same spare keycodes, and a record whose writer still types is not a leftover. It is taken under
// a server grab, so that no other client can take it between our look at its owner and our claim, and with
// a time of the server's clock, so that giving it up does nothing once another client has taken it since.
// A client that ignores the lock can still take it from us; the typing notices (typingLockHeld) and stops.
// The server gives it up for us when our connection ends.
class TypingLock {
  public:
    explicit TypingLock(Connection& keyboard) : keyboard_(keyboard) {}
    ~TypingLock() {
        if (owned_) {
            XSetSelectionOwner(keyboard_.display, keyboard_.lockAtom, 0, keyboard_.lockTime);
            IgnoreFailure(keyboard_.sync("ending the typing"), "the next typing takes the lock afresh");
        }
    }
    TypingLock(const TypingLock&) = delete;
    TypingLock& operator=(const TypingLock&) = delete;

    Status take() {
        Result<Time> now = keyboard_.serverTime();
        if (!now) {
            return Status::failure(now.error());
        }
        Display* display = keyboard_.display;
        XGrabServer(display);
        const Window owner = XGetSelectionOwner(display, keyboard_.lockAtom);
        const bool free = owner == 0 || owner == keyboard_.lockWindow;
        if (free) {
            keyboard_.lockLost = false;
            XSetSelectionOwner(display, keyboard_.lockAtom, keyboard_.lockWindow, now.value());
        }
        XUngrabServer(display);
        owned_ = free && XGetSelectionOwner(display, keyboard_.lockAtom) == keyboard_.lockWindow;
        keyboard_.lockTime = now.value();
        Status status = keyboard_.sync("starting the typing");
        if (status && !free) {
            return Status::failure(
                "typing: another program is typing through Varnel's spare keys on this display");
        }
        if (status && !owned_) {
            return Status::failure("typing: the typing selection could not be taken");
        }
        return status;
    }

  private:
    Connection& keyboard_;
    bool owned_ = false;
};

// Undoes what a killed typing of ours left behind, as its record says: the modifier keys and spare
// keycodes it may have left pressed are released, the spare keycodes it changed are emptied, Caps Lock
// goes back on and the keyboard group it locked goes back to the one before. Only a record that is wholly
// well-formed and was written for this keymap (its keycode range) is acted on, and of the keycodes it names
// only those that are spare by the rule typing picks them with (bound to no modifier) and still hold exactly
// what the record says typing gave them (or held before the change under way): the recorded groups of the key
// type typing uses, with those keysyms. A keycode someone else has changed since is not ours to touch. A
// property of another type is another client's and left alone; a malformed record of ours is deleted. Nothing
// is done while another client types (the typing lock is held for the repair).
void repairLeftovers(Connection& keyboard) {
    TypingLock lock(keyboard);
    if (!keyboard.xkb || !lock.take()) {
        return;
    }
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(keyboard.display, keyboard.root, keyboard.journalAtom, 0, 1 << 16, False,
                           AnyPropertyType, &type, &format, &count, &after, &raw) != Success) {
        IgnoreFailure(keyboard.sync("reading the keymap record"), "no record is read either way");
        return;
    }
    std::unique_ptr<unsigned char, XFreeDeleter> owned(raw);
    if (type == 0 || type != keyboard.journalType) {
        return;
    }
    const std::optional<KeymapRecord> record =
        raw != nullptr && format == 32 && after == 0
            ? KeymapRecord::decode(reinterpret_cast<const long*>(raw), count)
            : std::nullopt;
    auto clear = [&keyboard] {
        XDeleteProperty(keyboard.display, keyboard.root, keyboard.journalAtom);
        IgnoreFailure(keyboard.sync("clearing the keymap record"), "a record left is read again next time");
    };
    if (!record) {
        clear();
        return;
    }
    Result<Keymap> map = keyboard.readKeymap();
    Result<std::vector<bool>> modifiers = keyboard.modifierKeycodes();
    std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
        XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
    if (!map || !modifiers || !xkb) {
        IgnoreFailure(keyboard.sync("reading the keyboard map"), "the map is missing either way");
        return;
    }
    const X11Keyboard::KeycodeRange xkbRange =
        X11Keyboard::coreKeycodeRange(xkb->min_key_code, xkb->max_key_code);
    if (record->minKeycode != map.value().minKeycode || record->maxKeycode != map.value().maxKeycode ||
        xkbRange.first != map.value().minKeycode || xkbRange.last != map.value().maxKeycode) {
        return;  // written for another keymap
    }
    const std::optional<LevelThree> levelThree = findLevelThree(keyboard, map.value());
    const int typingType = record->levels == 4 ? (levelThree ? levelThree->type : -1) : XkbTwoLevelIndex;
    const std::size_t per = record->perKeycode();
    std::vector<KeyCode> ours;
    for (std::size_t k = 0; k < record->keycodes.size() && record->type == typingType; ++k) {
        const KeyCode keycode = record->keycodes[k];
        const KeySym* before = record->before.data() + k * per;
        const KeySym* given = record->after.data() + k * per;
        auto holds = [&](const KeySym* row) {
            return std::any_of(row, row + per, [](KeySym sym) { return sym != NoSymbol; }) &&
                   holdsExactly(xkb.get(), keycode, typingType, record->levels, record->groups, row);
        };
        if (!modifiers.value()[keycode] && (holds(given) || holds(before))) {
            ours.push_back(keycode);
        }
    }
    std::vector<KeyCode> pressable = ours;
    if (record->shift != 0 && map.value().at(record->shift, 0) == XK_Shift_L) {
        pressable.push_back(static_cast<KeyCode>(record->shift));
    }
    if (record->levelThree != 0 && levelThree && levelThree->key == record->levelThree) {
        pressable.push_back(static_cast<KeyCode>(record->levelThree));
    }
    char down[32] = {};
    XQueryKeymap(keyboard.display, down);
    for (KeyCode keycode : pressable) {
        if (Connection::isDown(down, keycode)) {
            XTestFakeKeyEvent(keyboard.display, keycode, False, CurrentTime);
        }
    }
    XkbMapChangesRec changes{};
    int first = 256, last = -1, repaired = 0;
    for (KeyCode keycode : ours) {
        if (XkbChangeTypesOfKey(xkb.get(), keycode, 0, XkbGroup1Mask, nullptr, &changes) == Success) {
            first = std::min(first, static_cast<int>(keycode));
            last = std::max(last, static_cast<int>(keycode));
            ++repaired;
        }
    }
    if (repaired > 0) {
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = static_cast<KeyCode>(first);
        changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
        XkbChangeMap(keyboard.display, xkb.get(), &changes);
    }
    if (record->capsLockOff) {
        XkbLockModifiers(keyboard.display, XkbUseCoreKbd, LockMask, LockMask);
    }
    if (record->groupLocked) {
        XkbLockGroup(keyboard.display, XkbUseCoreKbd, static_cast<unsigned>(record->lockedGroupBefore));
    }
    if (keyboard.sync("repairing the keymap")) {
        clear();
    }
}

// Escape grabbed on the root window while we type: the user's way to stop a long typing. Where another
// client holds that grab, Escape is polled between slices instead.
class EscapeWatch {
  public:
    explicit EscapeWatch(Connection& keyboard) : keyboard_(keyboard) {
        keyboard_.escapePressed = false;
        keyboard_.escapeKeycode = XKeysymToKeycode(keyboard_.display, XK_Escape);
        if (keyboard_.escapeKeycode != 0) {
            XGrabKey(keyboard_.display, keyboard_.escapeKeycode, AnyModifier, keyboard_.root, False,
                     GrabModeAsync, GrabModeAsync);
            grabbed_ = keyboard_.sync("grabbing Escape").ok();
        }
    }
    ~EscapeWatch() {
        if (grabbed_) {
            XUngrabKey(keyboard_.display, keyboard_.escapeKeycode, AnyModifier, keyboard_.root);
            IgnoreFailure(keyboard_.sync("releasing Escape"), "a grab of a lost connection is gone with it");
        }
        keyboard_.escapeKeycode = 0;
    }
    EscapeWatch(const EscapeWatch&) = delete;
    EscapeWatch& operator=(const EscapeWatch&) = delete;

    bool pressed() {
        if (!keyboard_.escapePressed && !grabbed_ && keyboard_.escapeDown()) {
            keyboard_.escapePressed = true;
        }
        return keyboard_.escapePressed;
    }

  private:
    Connection& keyboard_;
    bool grabbed_ = false;
};

// Keys we hold down; whatever is still down is released when this goes, whatever happened in between.
class HeldKeys {
  public:
    explicit HeldKeys(Connection& keyboard) : keyboard_(keyboard) {}
    ~HeldKeys() {
        IgnoreFailure(
            releaseAll(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

    Status press(KeyCode keycode) {
        Status status = keyboard_.key(keycode, true);
        if (status) {
            held_.push_back(keycode);
        }
        return status;
    }
    Status release(KeyCode keycode) {
        auto it = std::find(held_.begin(), held_.end(), keycode);
        if (it == held_.end()) {
            return Status::success();
        }
        held_.erase(it);
        return keyboard_.key(keycode, false);
    }
    bool isHeld(KeyCode keycode) const {
        return std::find(held_.begin(), held_.end(), keycode) != held_.end();
    }
    Status releaseAll() {
        Status first = Status::success();
        while (!held_.empty()) {
            Status status = release(held_.back());
            if (!status && first) {
                first = status;
            }
        }
        Status synced = keyboard_.sync("releasing keys");
        return first ? synced : first;
    }

  private:
    Connection& keyboard_;
    std::vector<KeyCode> held_;
};

// Caps Lock turned off while typing (it would change the case of letters), and on again afterwards.
class CapsLockOff {
  public:
    CapsLockOff(Connection& keyboard, Journal& journal) : keyboard_(keyboard), journal_(journal) {}
    ~CapsLockOff() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    CapsLockOff(const CapsLockOff&) = delete;
    CapsLockOff& operator=(const CapsLockOff&) = delete;

    Status apply(bool lockOn) {
        if (!lockOn) {
            return Status::success();
        }
        if (Status recorded = journal_.capsLockOff(); !recorded) {
            return recorded;
        }
        XkbLockModifiers(keyboard_.display, XkbUseCoreKbd, LockMask, 0);
        changed_ = true;
        return keyboard_.sync("releasing Caps Lock");
    }
    Status restore() {
        if (!changed_) {
            return Status::success();
        }
        changed_ = false;
        XkbLockModifiers(keyboard_.display, XkbUseCoreKbd, LockMask, LockMask);
        Status status = keyboard_.sync("restoring Caps Lock");
        return status ? journal_.capsLockBack() : status;
    }

  private:
    Connection& keyboard_;
    Journal& journal_;
    bool changed_ = false;
};

// The keyboard group locked while typing: the characters on the spare keycodes' second to fourth groups
// are typed with that group locked. The group locked before goes back afterwards.
//
// Another group is locked only under a server grab, for the keys typed in it, and the group before is
// locked again before the grab ends: a desktop component that manages the keyboard layout (mutter does)
// locks its own group back as soon as it sees ours, and a key the server handled after that would type
// another character. No other client's request is handled while we hold the grab, so every key is looked
// up in the group we locked, and the others only ever see the group they left. Nothing that waits on
// another client may run inside: the caller leaves before pings, remaps and its hook.
class GroupLock {
  public:
    GroupLock(Connection& keyboard, Journal& journal, int lockedBefore)
        : keyboard_(keyboard), journal_(journal), before_(lockedBefore), current_(lockedBefore) {}
    ~GroupLock() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    GroupLock(const GroupLock&) = delete;
    GroupLock& operator=(const GroupLock&) = delete;

    int current() const { return current_; }
    bool grabbing() const { return grabbing_; }
    // The keys typed so far must have been handled by the server: they are looked up in the group of
    // their moment.
    Status lock(int group) {
        if (group == before_) {
            return leave();
        }
        if (group == current_ && grabbing_) {
            return Status::success();
        }
        if (!changed_) {
            if (Status recorded = journal_.groupLocked(before_); !recorded) {
                return recorded;
            }
            changed_ = true;
        }
        if (!grabbing_) {
            XGrabServer(keyboard_.display);
            grabbing_ = true;
        }
        // Locked again after the server let go for held-back keys: another client may have changed it.
        XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(group));
        keyboard_.stats.groupSwitches += group != current_ ? 1 : 0;
        current_ = group;
        return Status::success();
    }
    // The group before locked again and the server let go. The keys typed so far must have been handled.
    Status leave() {
        if (current_ != before_) {
            XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(before_));
            current_ = before_;
        }
        return letOthersRun();
    }
    // The server let go with our group still locked: for keys that another client's grab holds back (it
    // can only let them go once the others run again). Whether the group then stayed ours until the keys
    // were handled is for the caller to check.
    Status letOthersRun() {
        if (!grabbing_) {
            return Status::success();
        }
        grabbing_ = false;
        XUngrabServer(keyboard_.display);
        return keyboard_.sync("letting other clients run");
    }
    Status restore() {
        Status status = leave();
        if (!changed_) {
            return status;
        }
        changed_ = false;
        XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(before_));
        current_ = before_;
        status = firstFailure(status, keyboard_.sync("giving the keyboard group back"));
        return status ? journal_.groupBack() : status;
    }

  private:
    Connection& keyboard_;
    Journal& journal_;
    int before_;
    int current_;
    bool changed_ = false;
    bool grabbing_ = false;
};

// The spare keycodes and their mapping while the text is typed. One keymap change covers all of them, and
// the spare keycodes are emptied again when this goes.
class SpareKeycodes {
  public:
    // levels is 2 (type TWO_LEVEL) or 4 (the keymap's four-level type of that index); each spare keycode
    // gets groups groups (1 to 4) of that type.
    SpareKeycodes(Connection& keyboard, Journal& journal, std::vector<KeyCode> keycodes, int levels,
                  int groups, int type)
        : keyboard_(keyboard),
          journal_(journal),
          keycodes_(std::move(keycodes)),
          levels_(levels),
          groups_(groups),
          type_(type),
          current_(capacity(), NoSymbol) {}
    ~SpareKeycodes() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    std::size_t capacity() const { return perKeycode() * keycodes_.size(); }
    // Where symbols[i] lands: the first keycodes * levels symbols in group 1 (keycode by keycode, level by
    // level), the next in group 2 and so on, so that a text needing few symbols switches groups rarely.
    Stroke strokeFor(std::size_t i) const {
        const auto levels = static_cast<std::size_t>(levels_);
        const std::size_t perGroup = levels * keycodes_.size();
        const std::size_t inGroup = i % perGroup;
        return Stroke{keycodes_[inGroup / levels], static_cast<int>(inGroup % levels),
                      groups_ == 1 ? AnyGroup : static_cast<int>(i / perGroup)};
    }

    Status map(const std::vector<KeySym>& symbols) {
        // Row by row: per keycode its groups one after the other, each levels wide.
        std::vector<KeySym> rows(capacity(), NoSymbol);
        const auto levels = static_cast<std::size_t>(levels_);
        const std::size_t perGroup = levels * keycodes_.size();
        for (std::size_t i = 0; i < symbols.size(); ++i) {
            const std::size_t group = i / perGroup, keycode = i % perGroup / levels, level = i % levels;
            rows[keycode * perKeycode() + group * levels + level] = symbols[i];
        }
        if (Status typed = waitForTypedKeys(); !typed) {
            return typed;
        }
        if (Status held = keyboard_.typingLockHeld(); !held) {
            return held;
        }
        Status status = write(rows);
        if (status && !keyboard_.targetAnswers) {
            keyboard_.settle();
        }
        return status;
    }
    // Records that keys were typed on the current mapping: it must not change before they are read.
    void typed() { ++typed_; }
    Status restore() {
        if (!mapped_) {
            return Status::success();
        }
        const Status typed = waitForTypedKeys();
        Status status = write(std::vector<KeySym>(capacity(), NoSymbol));
        mapped_ = false;  // one attempt; a failed restore is reported, not retried forever
        return firstFailure(typed, status ? journal_.spareKeycodesBack() : status);
    }

  private:
    std::size_t perKeycode() const { return static_cast<std::size_t>(groups_ * levels_); }

    // Fails with the first error the keys typed on the current mapping met.
    Status waitForTypedKeys() {
        if (typed_ == 0) {
            return Status::success();
        }
        Status status = keyboard_.sync("typing");
        keyboard_.waitForTarget();
        typed_ = 0;
        return status;
    }

    Status write(const std::vector<KeySym>& levels) {
        if (Status recorded = journal_.remap(keycodes_, levels_, groups_, type_, current_, levels);
            !recorded) {
            return recorded;
        }
        mapped_ = true;
        Status status = keyboard_.xkb ? writeXkb(levels) : writeCore(levels);
        status = firstFailure(status, keyboard_.sync("changing the keyboard mapping"));
        if (status) {
            current_ = levels;
        }
        return status;
    }

    // One XKB map change for the range from the lowest to the highest spare keycode. The keys in between
    // go back exactly as the server holds them at this moment; a core mapping change would make the server
    // re-derive their XKB types and groups from the core symbols, which does not give back what was there
    // (keys with five levels gain a second group, for one).
    Status writeXkb(const std::vector<KeySym>& levels) {
        std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
            XkbGetMap(keyboard_.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
        if (!xkb) {
            return firstFailure(keyboard_.sync("reading the keyboard map"),
                                Status::failure("the keyboard map could not be read"));
        }
        XkbMapChangesRec changes{};
        const std::size_t per = perKeycode();
        const bool emptying =
            std::all_of(levels.begin(), levels.end(), [](KeySym sym) { return sym == NoSymbol; });
        for (std::size_t i = 0; i < keycodes_.size(); ++i) {
            // A spare keycode another client has changed since is its own now: never overwritten, and left
            // as it is when we give the keycodes back.
            if (!holdsExactly(xkb.get(), keycodes_[i], type_, levels_, groups_, current_.data() + per * i)) {
                if (emptying) {
                    continue;
                }
                return Status::failure("typing: another program changed the spare keycode " +
                                       std::to_string(keycodes_[i]));
            }
            const auto first = levels.begin() + static_cast<std::ptrdiff_t>(per * i);
            if (std::all_of(first, first + static_cast<std::ptrdiff_t>(per),
                            [](KeySym sym) { return sym == NoSymbol; })) {
                if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], 0, XkbGroup1Mask, nullptr, &changes) !=
                    Success) {
                    return Status::failure("a spare keycode could not be emptied");
                }
                continue;
            }
            int types[XkbNumKbdGroups] = {type_, type_, type_, type_};
            const unsigned groupMask = (1u << groups_) - 1;
            KeySym* syms = nullptr;
            if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], groups_, groupMask, types, &changes) ==
                Success) {
                syms = XkbResizeKeySyms(xkb.get(), keycodes_[i], static_cast<int>(per));
            }
            if (syms == nullptr) {
                return Status::failure("a spare keycode could not be given keysyms");
            }
            std::copy(first, first + static_cast<std::ptrdiff_t>(per), syms);
        }
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = *std::min_element(keycodes_.begin(), keycodes_.end());
        changes.num_key_syms = static_cast<unsigned char>(
            *std::max_element(keycodes_.begin(), keycodes_.end()) - changes.first_key_sym + 1);
        ++keyboard_.stats.keymapChanges;
        if (!XkbChangeMap(keyboard_.display, xkb.get(), &changes)) {
            return Status::failure("the keyboard map could not be changed");
        }
        return Status::success();
    }

    // Without XKB (two levels, one group): one core change for the range from the lowest to the highest
    // spare keycode, the keys in between given back what they hold.
    Status writeCore(const std::vector<KeySym>& levels) {
        const KeyCode first = *std::min_element(keycodes_.begin(), keycodes_.end());
        const int count = *std::max_element(keycodes_.begin(), keycodes_.end()) - first + 1;
        int held = 0;
        std::unique_ptr<KeySym, XFreeDeleter> current(
            XGetKeyboardMapping(keyboard_.display, first, count, &held));
        if (!current || held <= 0) {
            return firstFailure(keyboard_.sync("reading the keyboard mapping"),
                                Status::failure("the keyboard mapping could not be read"));
        }
        const int per = std::max(held, 2);
        std::vector<KeySym> syms(static_cast<std::size_t>(count * per), NoSymbol);
        for (int k = 0; k < count; ++k) {
            std::copy(current.get() + k * held, current.get() + (k + 1) * held,
                      syms.begin() + static_cast<std::ptrdiff_t>(k * per));
        }
        for (std::size_t i = 0; i < keycodes_.size(); ++i) {
            const auto row = syms.begin() + static_cast<std::ptrdiff_t>((keycodes_[i] - first) * per);
            std::fill(row, row + per, NoSymbol);
            row[0] = levels[2 * i];
            row[1] = levels[2 * i + 1];
        }
        ++keyboard_.stats.keymapChanges;
        XChangeKeyboardMapping(keyboard_.display, first, per, syms.data(), count);
        return Status::success();
    }

    Connection& keyboard_;
    Journal& journal_;
    std::vector<KeyCode> keycodes_;
    int levels_;
    int groups_;
    int type_;
    std::vector<KeySym> current_;  // what the spare keycodes hold now
    bool mapped_ = false;
    int typed_ = 0;  // keys typed on the current mapping
};

}  // namespace

struct X11Keyboard::Impl : Connection {};

X11Keyboard::X11Keyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11Keyboard::~X11Keyboard() = default;

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why) {
    return open(why, Options{});
}

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why, Options options) {
    auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    static std::once_flag ioHandlerInstalled;
    std::call_once(ioHandlerInstalled, [] { previousIoHandler = XSetIOErrorHandler(onIoError); });

    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->display = OpenX11Connection([display = &impl->display] { onIoExit(*display, nullptr); });
    if (impl->display == nullptr) {
        return fail("the X display cannot be opened");
    }
    {
        std::lock_guard lock(registryMutex);
        registry().emplace_back(impl->display, &impl->errors);
    }
    XExtCodes* codes = XAddExtension(impl->display);
    if (codes == nullptr) {
        return fail("no error hook could be installed on the X connection");
    }
    XESetError(impl->display, codes->extension, onProtocolError);

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(impl->display, &eventBase, &errorBase, &major, &minor)) {
        return fail("the X server has no XTest extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    impl->xkb = XkbQueryExtension(impl->display, &opcode, &eventBase, &errorBase, &major, &minor) == True;
    impl->root = DefaultRootWindow(impl->display);
    impl->lockAtom = XInternAtom(impl->display, "_VARNEL_TYPING", False);
    impl->journalAtom = XInternAtom(impl->display, "_VARNEL_KEYMAP_JOURNAL", False);
    impl->journalType = XInternAtom(impl->display, "_VARNEL_KEYMAP_RECORD", False);
    impl->protocolsAtom = XInternAtom(impl->display, "WM_PROTOCOLS", False);
    impl->pingAtom = XInternAtom(impl->display, "_NET_WM_PING", False);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = PropertyChangeMask;  // the server's time, for the typing lock
    impl->lockWindow = XCreateWindow(impl->display, impl->root, -10, -10, 1, 1, 0, 0, InputOnly,
                                     CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    if (Status status = impl->sync("opening the keyboard"); !status) {
        return fail(status.error());
    }
    repairLeftovers(*impl);
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(std::move(impl)));
}

std::vector<std::uint32_t> X11Keyboard::keysymsFor(const std::u16string& text) {
    std::vector<std::uint32_t> keysyms;
    keysyms.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePointAt at = DecodeUtf16At(text, i);
        i += at.units;
        const std::uint32_t c = IsSurrogate(at.cp) ? ReplacementCharacter : at.cp;
        if (c == u'\t') {
            keysyms.push_back(XK_Tab);
        } else if (c == u'\r' || c == u'\n') {
            keysyms.push_back(XK_Return);
        } else if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
            keysyms.push_back(c);
        } else {
            keysyms.push_back(UnicodeKeysymBase + c);
        }
    }
    return keysyms;
}

X11Keyboard::KeycodeRange X11Keyboard::coreKeycodeRange(int minKeycode, int maxKeycode) {
    return KeycodeRange{std::max(minKeycode, 8), std::min(maxKeycode, 255)};
}

X11Keyboard::TypingStats X11Keyboard::lastTypingStats() const {
    return impl_->stats;
}

namespace {

Status pressChord(Connection& keyboard, KeySym modifier, KeySym key, const std::string& what) {
    Result<Keymap> map = keyboard.readKeymap();
    if (!map) {
        return Status::failure(map.error());
    }
    Result<std::vector<bool>> modifiers = keyboard.modifierKeycodes();
    if (!modifiers) {
        return Status::failure(modifiers.error());
    }
    const std::vector<bool> none(256, false);
    const std::optional<KeyCode> modifierKey = map.value().find(modifier, none);
    const std::optional<KeyCode> mainKey = map.value().find(key, modifiers.value());
    if (!modifierKey || !mainKey) {
        return Status::failure(what + ": the keymap has no " +
                               XKeysymToString(!modifierKey ? modifier : key) + " key");
    }
    HeldKeys held(keyboard);
    Status status = held.press(*modifierKey);
    if (status) {
        status = held.press(*mainKey);
    }
    if (status) {
        status = held.release(*mainKey);
    }
    if (status) {
        status = held.release(*modifierKey);
    }
    return firstFailure(status, held.releaseAll());
}

}  // namespace

Status X11Keyboard::pressPasteKey() {
    return pressChord(*impl_, XK_Shift_L, XK_Insert, "Shift+Insert");
}

Status X11Keyboard::pressCopyKey() {
    return pressChord(*impl_, XK_Control_L, XK_Insert, "Ctrl+Insert");
}

Status X11Keyboard::waitUntilSent() {
    Status status = impl_->sync("sending keys");
    impl_->waitForFocusedClient(std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    impl_->waitForXimClient();
    return status;
}

Status X11Keyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    Connection& keyboard = *impl_;
    keyboard.stats = TypingStats{};
    if (text.empty()) {
        return Status::success();
    }
    const std::vector<std::uint32_t> keysyms = keysymsFor(text);

    Result<Keymap> current = keyboard.readKeymap();
    if (!current) {
        return Status::failure(current.error());
    }
    const Keymap& map = current.value();
    Result<std::vector<bool>> modifierResult = keyboard.modifierKeycodes();
    if (!modifierResult) {
        return Status::failure(modifierResult.error());
    }
    const std::vector<bool>& modifiers = modifierResult.value();
    const std::optional<KeyCode> shiftKey = map.find(XK_Shift_L, std::vector<bool>(256, false));
    if (!shiftKey) {
        return Status::failure("typing: the keymap has no Shift_L key");
    }

    // The keyboard group decides which columns of the core mapping the keys type; Caps Lock is switched
    // off for the duration.
    // The spare keycodes carry up to four groups where the keyboard group is only locked (no group key
    // held or latched): the group is then locked for the characters of the second to fourth.
    int group = 0;
    int lockedGroup = 0;
    bool groupsUsable = false;
    bool capsLock = false;
    std::optional<LevelThree> levelThree;
    std::unique_ptr<XkbDescRec, XkbDeleter> keyGroups;
    if (keyboard.xkb) {
        XkbStateRec state{};
        if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) == Success) {
            group = state.group;
            lockedGroup = state.locked_group;
            groupsUsable =
                state.base_group == 0 && state.latched_group == 0 && state.group == state.locked_group;
            capsLock = (state.locked_mods & LockMask) != 0;
        }
        if (Status status = keyboard.sync("reading the keyboard state"); !status) {
            return status;
        }
        levelThree = findLevelThree(keyboard, map);
        keyGroups.reset(XkbGetMap(keyboard.display, XkbKeySymsMask, XkbUseCoreKbd));
        if (!keyGroups) {
            IgnoreFailure(keyboard.sync("reading the keyboard map"), "the groups go unused either way");
            groupsUsable = false;
        }
    }
    // A key of one group types the same in every group; another needs the group the user had locked.
    auto groupFor = [&](int keycode) {
        return !groupsUsable || XkbKeyNumGroups(keyGroups.get(), keycode) <= 1 ? AnyGroup : lockedGroup;
    };

    std::unordered_map<KeySym, Stroke> direct;
    if (group < 2) {
        for (int level = 0; level < 2; ++level) {
            for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
                const KeySym sym = map.at(k, 2 * group + level);
                if (sym != NoSymbol && !modifiers[static_cast<std::size_t>(k)] && direct.count(sym) == 0) {
                    direct.emplace(sym, Stroke{static_cast<KeyCode>(k), level, groupFor(k)});
                }
            }
        }
    }
    std::vector<KeyCode> spare;
    for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
        if (map.isEmpty(k) && !modifiers[static_cast<std::size_t>(k)]) {
            spare.push_back(static_cast<KeyCode>(k));
        }
    }
    const int levels = levelThree ? 4 : 2;
    // As many groups as lower the number of remaps, and no more: every group switch costs a round trip.
    auto remaps = [](const std::vector<Stretch>& plan) {
        return std::count_if(plan.begin(), plan.end(), [](const Stretch& s) { return !s.symbols.empty(); });
    };
    const int maxGroups = groupsUsable && keyboard.options.extraGroups ? XkbNumKbdGroups : 1;
    const std::size_t perGroup = static_cast<std::size_t>(levels) * spare.size();
    std::vector<Stretch> stretches = planStretches(keysyms, direct, perGroup * maxGroups);
    int groups = maxGroups;
    for (int fewer = maxGroups - 1; fewer >= 1; --fewer) {
        std::vector<Stretch> plan =
            planStretches(keysyms, direct, perGroup * static_cast<std::size_t>(fewer));
        if (remaps(plan) > remaps(stretches)) {
            break;
        }
        stretches = std::move(plan);
        groups = fewer;
    }
    if (spare.empty()) {
        for (const Stretch& stretch : stretches) {
            if (!stretch.symbols.empty()) {
                return Status::failure("typing: the keymap has no spare keycode for keysym 0x" +
                                       hex(static_cast<std::uint32_t>(stretch.symbols.front())));
            }
        }
    }
    keyboard.stats.spareKeycodes = static_cast<int>(spare.size());
    keyboard.stats.levelsPerKeycode = levels;
    keyboard.stats.groupsPerKeycode = groups;
    keyboard.stop = false;
    keyboard.betweenSlices = &betweenSlices;
    struct ForgetHook {
        Connection& keyboard;
        ~ForgetHook() { keyboard.betweenSlices = nullptr; }
    } forgetHook{keyboard};

    TypingLock lock(keyboard);
    if (Status status = lock.take(); !status) {
        return status;
    }
    Result<bool> released = keyboard.waitForModifierRelease(modifiers);
    if (!released) {
        return Status::failure(released.error());
    }
    keyboard.stats.modifiersStillHeld = !released.value();

    // The target paces the batches if it answers pings; the answers come to the root window.
    keyboard.findPingTarget();
    XSelectInput(keyboard.display, keyboard.root, SubstructureNotifyMask);
    struct StopListening {
        Connection& keyboard;
        ~StopListening() { XSelectInput(keyboard.display, keyboard.root, NoEventMask); }
    } stopListening{keyboard};
    keyboard.targetAnswers = false;
    keyboard.ximFailed = false;
    struct DisconnectXim {
        Connection& keyboard;
        ~DisconnectXim() { keyboard.disconnectXim(); }
    } disconnectXim{keyboard};
    if (std::any_of(stretches.begin(), stretches.end(),
                    [](const Stretch& s) { return !s.symbols.empty(); })) {
        keyboard.probeTarget();
        keyboard.connectXim();
    }

    // Destroyed in reverse: Escape given back, keys released, then the spare keycodes emptied, then Caps
    // Lock back on; the record is cleared once all of that worked.
    Journal journal(keyboard, map, *shiftKey, levelThree ? levelThree->key : 0);
    CapsLockOff lockOff(keyboard, journal);
    SpareKeycodes spareKeys(keyboard, journal, spare, levels, groups,
                            levelThree ? levelThree->type : XkbTwoLevelIndex);
    GroupLock groupLock(keyboard, journal, lockedGroup);
    HeldKeys held(keyboard);
    EscapeWatch escape(keyboard);
    Status status = lockOff.apply(capsLock);

    // The modifier keys a stroke needs: Shift for bit 0 of its level, the Level3 shift for bit 1.
    auto holdModifiers = [&](int level) {
        Status result = Status::success();
        const std::pair<std::optional<KeyCode>, bool> wanted[] = {
            {shiftKey, (level & 1) != 0},
            {levelThree ? std::optional<KeyCode>(levelThree->key) : std::nullopt, (level & 2) != 0}};
        for (const auto& [key, down] : wanted) {
            if (result && key && down != held.isHeld(*key)) {
                result = down ? held.press(*key) : held.release(*key);
            }
        }
        return result;
    };
    // Releases the key just pressed once the server has handled it, and so every key event before it: the
    // key shows down after the press and up after the release (seeing both rules out a press before a
    // freeze and a release held back by it). A ping answered meanwhile would prove nothing: it overtakes
    // key events that a grab holds back, which the target would later look up on another mapping.
    //
    // Under the server grab of another keyboard group the keys are handled at once, unless another
    // client's grab holds them back: that client can only let them go once the server lets it run, and
    // the keys must still find our group then.
    auto releaseHandled = [&](KeyCode keycode) {
        bool heldUnderGrab = false;
        if (groupLock.grabbing()) {
            Result<bool> atOnce = keyboard.waitForKeyState(keycode, true, Clock::now());
            if (!atOnce) {
                return Status::failure(atOnce.error());
            }
            if (!atOnce.value()) {
                heldUnderGrab = true;
                if (Status let = groupLock.letOthersRun(); !let) {
                    return let;
                }
            }
        }
        const auto deadline = Clock::now() + keyboard.options.heldBackBound;
        Result<bool> handled = keyboard.waitForKeyState(keycode, true, deadline);
        Status result = handled ? held.release(keycode) : Status::failure(handled.error());
        if (result && handled.value()) {
            handled = keyboard.waitForKeyState(keycode, false, deadline);
            result = handled ? Status::success() : Status::failure(handled.error());
        }
        if (result && !handled.value()) {
            result = Status::failure("typing: the X server did not handle the keys within " +
                                     std::to_string(keyboard.options.heldBackBound.count()) +
                                     " ms (another program's grab holds the keyboard)");
        }
        if (result && heldUnderGrab && keyboard.lockedGroup() != groupLock.current()) {
            result = Status::failure(
                "typing: another program switched the keyboard group while another "
                "program's grab held the keys back (some may have typed other characters)");
        }
        return result;
    };
    auto sliceStart = Clock::now();
    bool stop = false;
    for (const Stretch& stretch : stretches) {
        if (!status || stop) {
            break;
        }
        std::unordered_map<KeySym, Stroke> remapped;
        if (!stretch.symbols.empty()) {
            status = holdModifiers(0);
            if (status) {
                status = groupLock.leave();
            }
            if (status) {
                status = spareKeys.map(stretch.symbols);
                ++keyboard.stats.batches;
            }
            for (std::size_t i = 0; i < stretch.symbols.size(); ++i) {
                remapped.emplace(stretch.symbols[i], spareKeys.strokeFor(i));
            }
            stop = keyboard.stop;  // the caller may have said so while the target caught up
        }
        for (std::size_t i = stretch.begin; i < stretch.end && status && !stop; ++i) {
            const KeySym sym = keysyms[i];
            bool remappedStroke = false;
            auto it = direct.find(sym);
            if (it == direct.end()) {
                it = remapped.find(sym);
                if (it == remapped.end()) {
                    status = Status::failure("typing: no key for keysym 0x" +
                                             hex(static_cast<std::uint32_t>(sym)));
                    break;
                }
                spareKeys.typed();
                ++keyboard.stats.remappedCharacters;
                remappedStroke = true;
            }
            const Stroke stroke = it->second;
            if (stroke.group != AnyGroup) {
                status = groupLock.lock(stroke.group);
            }
            if (status) {
                status = holdModifiers(stroke.level);
            }
            if (status) {
                status = held.press(stroke.keycode);
            }
            // The focus is asked after every key, in the round trip that waits for the key: once it has gone
            // (a click-to-focus manager moves it as the click arrives) no more keys follow.
            bool focused = true;
            if (status) {
                focused = keyboard.focusStayed();
                status = keyboard.takeEvents("typing");
            }
            if (!status) {
                break;
            }
            ++keyboard.stats.typedCharacters;
            stop = escape.pressed() || keyboard.stop || !focused;
            const bool sliceOver = Clock::now() - sliceStart >= keyboard.options.slice;
            // The next remap, group switch, hook call or the end needs the keys so far handled; in between,
            // the release is checked by the next key's round trip.
            const bool groupSwitchNext = i + 1 < stretch.end && [&] {
                auto next = direct.find(keysyms[i + 1]);
                if (next == direct.end()) {
                    next = remapped.find(keysyms[i + 1]);
                    if (next == remapped.end()) {
                        return false;
                    }
                }
                return next->second.group != AnyGroup && next->second.group != groupLock.current();
            }();
            status = stop || sliceOver || groupSwitchNext || i + 1 == stretch.end
                         ? releaseHandled(stroke.keycode)
                         : held.release(stroke.keycode);
            if (!status) {
                break;
            }
            if (remappedStroke) {
                keyboard.keyEventsToLastSpare = keyboard.keyEventsSinceXim;
            }
            stop = stop || keyboard.stop;  // the hook may have run while the release was waited for
            const bool hookCalled = !stop && sliceOver;
            if (hookCalled) {
                // Nothing held while the caller's events run: a click then is a plain click.
                status = firstFailure(held.releaseAll(), groupLock.leave());
                keyboard.callBetweenSlices();
                stop = escape.pressed() || keyboard.stop;
                sliceStart = Clock::now();
            }
            // A client that took the typing lock from us: its loss comes with any round trip, and is asked
            // outright after the hook.
            if (status && (keyboard.lockLost || hookCalled)) {
                status = keyboard.typingLockHeld();
            }
        }
    }
    keyboard.stats.stopped = stop;
    status = firstFailure(status, held.releaseAll());
    status = firstFailure(status, groupLock.restore());
    status = firstFailure(status, spareKeys.restore());
    status = firstFailure(status, lockOff.restore());
    return status;
}

}  // namespace varnel
