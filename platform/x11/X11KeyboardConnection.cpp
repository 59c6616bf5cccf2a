#include "platform/x11/X11KeyboardConnection.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/x11/X11Connection.h"

namespace varnel::x11keyboard {

Connection::~Connection() {
    if (display == nullptr) {
        return;
    }
    if (!connectionLost) {
        XSync(display, False);
    }
    errors.reset();
    XCloseDisplay(display);
}

Status Connection::sync(const std::string& what) {
    if (!connectionLost) {
        XSync(display, False);
    }
    return takeEvents(what);
}

Status Connection::takeEvents(const std::string& what) {
    if (connectionLost) {
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
    if (const std::optional<X11Error> error = errors->takeFirst()) {
        char text[128] = {};
        XGetErrorText(display, error->code, text, sizeof text);
        const std::string why = what + ": X error " + text + " (request " + std::to_string(error->request) +
                                "." + std::to_string(error->minor) + ")";
        return Status::failure(why);
    }
    return Status::success();
}

Status Connection::key(KeyCode keycode, bool press) {
    if (connectionLost) {
        return Status::failure("the connection to the X server is lost");
    }
    if (XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime) == 0) {
        return Status::failure("XTest refused a key event");
    }
    ++keyEventsSinceXim;
    return Status::success();
}

Result<Keymap> Connection::readKeymap() {
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
        return Result<Keymap>::failure(status ? "the keyboard mapping could not be read" : status.error());
    }
    map.syms.assign(syms.get(), syms.get() + static_cast<std::size_t>(count * map.perKeycode));
    return Result<Keymap>::success(std::move(map));
}

Result<std::vector<bool>> Connection::modifierKeycodes() {
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

Result<bool> Connection::waitForModifierRelease(const std::vector<bool>& modifiers) {
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

bool Connection::isDown(const char* keys, int keycode) {
    return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

bool Connection::escapeDown() {
    if (escapeKeycode == 0) {
        return false;
    }
    char keys[32] = {};
    XQueryKeymap(display, keys);
    return isDown(keys, escapeKeycode);
}

Result<Time> Connection::serverTime() {
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

Status Connection::typingLockHeld() {
    const Window owner = XGetSelectionOwner(display, lockAtom);
    Status status = sync("checking the typing lock");
    if (status && (lockLost || owner != lockWindow)) {
        return Status::failure(
            "typing stopped: another program took over typing on this display (the _VARNEL_TYPING "
            "selection)");
    }
    return status;
}

Result<bool> Connection::waitForKeyState(KeyCode keycode, bool down, Clock::time_point deadline) {
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

void Connection::callBetweenSlices() {
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

bool Connection::focusStayed() {
    if (connectionLost) {
        return false;
    }
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return targetClient == 0 || (focus > PointerRoot && (focus & ~display->resource_mask) == targetClient);
}

int Connection::lockedGroup() {
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.locked_group : -1;
}

Window Connection::parentOf(Window window) {
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

void Connection::findPingTarget() {
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

bool Connection::buttonDownOutsideTarget() {
    if (targetFrame == 0 || connectionLost) {
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

bool Connection::ping(std::chrono::milliseconds bound) {
    pingAnswered = false;
    SendX11ClientMessage(display, pingTarget, protocolsAtom,
                         {static_cast<long>(pingAtom), ++pingSerial, static_cast<long>(pingTarget)});
    return waitUntil([this] { return pingAnswered; }, bound, "waiting for the target");
}

void Connection::connectXim() {
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

void Connection::disconnectXim() {
    if (xim) {
        xim.reset();
        IgnoreFailure(sync("leaving the input method"), "the link is gone either way");
    }
}

void Connection::giveUpXim() {
    xim.reset();
    ximFailed = true;
    stats.ximSilent = true;
    IgnoreFailure(sync("giving up the input method"), "the link is gone either way");
}

void Connection::passThroughXim(int rounds) {
    const auto deadline =
        Clock::now() + std::max<std::chrono::milliseconds>(options.ximPassBound, rounds * XimRoundAllowance);
    for (int round = 0; round <= rounds && xim && targetAnswers; ++round) {
        if (Clock::now() > deadline) {
            giveUpXim();
        } else if (waitForXim()) {
            targetAnswers = ping(options.targetBound);
            stats.targetAnswered = targetAnswers;
        }
    }
}

bool Connection::waitForXim() {
    xim->ask();
    if (waitUntil([this] { return xim->answered() || xim->failed(); }, options.ximBound,
                  "waiting for the input method") &&
        !xim->failed()) {
        return true;
    }
    giveUpXim();
    return false;
}

void Connection::waitForFocusedClient(std::chrono::milliseconds fixedWait,
                                      std::chrono::milliseconds pingBound) {
    findPingTarget();
    pingAnswered = false;
    if (pingTarget != 0 && X11WindowMayBeProbedWithPing(display, pingTarget)) {
        XSelectInput(display, root, X11PingAnswerMask);  // the answers come to the root
        ping(pingBound);
        XSelectInput(display, root, NoEventMask);
    }
    if (!pingAnswered) {
        std::this_thread::sleep_for(fixedWait);
    }
}

void Connection::waitForXimClient() {
    ximPassed = false;
    if (pingTarget != 0 && keyEventsSinceXim > 0 &&
        (pingAnswered || pingTarget == answeringTarget || X11WindowAnnouncesPing(display, pingTarget))) {
        XSelectInput(display, root, X11PingAnswerMask);  // the answers come to the root
        ximFailed = false;
        connectXim();
        if (xim) {
            targetAnswers = ping(options.targetBound);
            passThroughXim(keyEventsSinceXim);
            ximPassed = xim && targetAnswers;
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

void Connection::probeTarget() {
    targetAnswers = pingTarget != 0 && X11WindowMayBeProbedWithPing(display, pingTarget) &&
                    ping(std::chrono::milliseconds(250));
    stats.targetAnswered = targetAnswers;
    answeringTarget = targetAnswers ? pingTarget : 0;
}

void Connection::waitForTarget() {
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

}  // namespace varnel::x11keyboard
