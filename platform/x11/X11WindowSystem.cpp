#include "platform/x11/X11WindowSystem.h"

#include <poll.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status  // Xlib's macro; ours is varnel::Status

#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include <unistd.h>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Errors.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr long NetWmStateRemove = 0;
constexpr long NetWmStateAdd = 1;
constexpr long SourcePager = 2;  // requests on behalf of the user, as a pager or taskbar sends them

}  // namespace

struct X11WindowSystem::Impl {
    Display* display = nullptr;
    Window root = 0;
    Window clock = 0;  // an unmapped window whose property changes give us server timestamps
    Atom netActiveWindow{}, netSupportingWmCheck{}, netWmState{}, netWmStateAbove{}, netWmStateBelow{},
        netRestackWindow{}, netWmWindowType{}, netWmWindowTypeDialog{}, timestampProperty{}, targetProperty{},
        capturedProperty{}, wmProtocols{}, netWmPing{};
    Atom netWmPid{}, wmClientLeader{};
    long ownPid = 0;
    std::string ownHost;
    long pingSerial = 0;
    double devicePixelsPerUnit = 1.0;
    double unitsPerInch = 96.0;
    std::optional<MonitorArea> primaryMonitor;

    ~Impl() {
        if (display != nullptr) {
            if (clock != 0) {
                XDestroyWindow(display, clock);
            }
            XCloseDisplay(display);
        }
    }

    // Reads a single 32-bit property of the given type; nullopt when it is missing or unreadable.
    std::optional<unsigned long> numberProperty(Window w, Atom property, Atom wanted) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const int rc = XGetWindowProperty(display, w, property, 0, 1, False, wanted, &type, &format, &count,
                                          &after, &data);
        std::optional<unsigned long> result;
        if (rc == Success && type == wanted && format == 32 && count == 1 && data != nullptr) {
            result = *reinterpret_cast<unsigned long*>(data);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return result;
    }
    std::optional<Window> windowProperty(Window w, Atom property) const {
        return numberProperty(w, property, XA_WINDOW);
    }

    // What the root window said when it was last read: whether an EWMH window manager runs (a manager
    // that exited leaves its check property behind pointing at a window that no longer exists; that
    // does not count) and the active window. The tick asks for the foreground window five
    // times a second; the answer is read from the server again only after the root's properties or
    // the manager's check window have changed, which the server tells us by events.
    struct Cached {
        bool valid = false;
        bool ewmh = false;
        Window check = 0;
        Window active = 0;
        std::optional<bool> activeIsOwn;  // whether `active` is one of ours, once asked
    } cached;

    // True when w carries this process's id and names this host (or no host at all): the toolkit sets
    // both on every top-level window it creates.
    bool carriesOurProcess(Window w) const {
        const auto pid = numberProperty(w, netWmPid, XA_CARDINAL);
        if (!pid || static_cast<long>(*pid) != ownPid) {
            return false;
        }
        XTextProperty machine{};
        if (XGetWMClientMachine(display, w, &machine) == 0 || machine.value == nullptr) {
            return true;
        }
        const std::string host(reinterpret_cast<const char*>(machine.value), machine.nitems);
        XFree(machine.value);
        return ownHost.empty() || host == ownHost;
    }

    // True when w is one of this program's windows: it carries our process, or its client leader
    // does, or it is transient for a window that is ours (a message box whose own properties were
    // left out). The transient chain is followed a few steps only: a loop cannot hold us.
    bool createdHere(Window w) const {
        for (int step = 0; step < 8 && w != 0 && w != root; ++step) {
            if (carriesOurProcess(w)) {
                return true;
            }
            if (const auto leader = windowProperty(w, wmClientLeader);
                leader && *leader != 0 && *leader != w && carriesOurProcess(*leader)) {
                return true;
            }
            Window owner = 0;
            if (XGetTransientForHint(display, w, &owner) == 0) {
                return false;
            }
            w = owner;
        }
        return false;
    }

    // Takes in the events that invalidate the cache. Only root property changes and the check
    // window's destruction are selected on this connection (our clock window's events are left queued
    // for serverTime()).
    void takeInEvents() {
        XEvent event;
        while (XCheckWindowEvent(display, root, PropertyChangeMask, &event)) {
            const Atom a = event.xproperty.atom;
            if (a == netActiveWindow || a == netSupportingWmCheck) {
                cached.valid = false;
            }
        }
        if (cached.check != 0) {
            while (XCheckWindowEvent(display, cached.check, StructureNotifyMask, &event)) {
                if (event.type == DestroyNotify) {
                    cached.valid = false;
                }
            }
        }
    }

    void refreshCache() {
        takeInEvents();
        if (cached.valid) {
            return;
        }
        cached = Cached{};
        const auto check = windowProperty(root, netSupportingWmCheck);
        if (check && *check != 0) {
            // Select first, then verify: a manager that exits after this point is seen by its event.
            XSelectInput(display, *check, StructureNotifyMask);
            const auto self = windowProperty(*check, netSupportingWmCheck);
            cached.ewmh = self && *self == *check;
            cached.check = cached.ewmh ? *check : 0;
        }
        if (cached.ewmh) {
            cached.active = windowProperty(root, netActiveWindow).value_or(0);
            cached.valid = true;
        }
    }

    // A real server timestamp, from the PropertyNotify of a zero-length append to our own window.
    Time serverTime() {
        XChangeProperty(display, clock, timestampProperty, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XSync(display, False);
        const auto deadline = Clock::now() + 100ms;
        XEvent event;
        while (Clock::now() < deadline) {
            if (XCheckTypedWindowEvent(display, clock, PropertyNotify, &event)) {
                return event.xproperty.time;
            }
            std::this_thread::sleep_for(1ms);
        }
        return CurrentTime;
    }

    // Sends the window's client a _NET_WM_PING and waits, at most bound, for its answer, which it gives
    // once it has handled the events that came before (a FocusIn among them). A client that does not
    // announce pings is not sent one (an Xt program such as xterm takes any WM_PROTOCOLS message for a
    // close request) and, like one that does not answer, is given the whole bound.
    void waitUntilHandled(Window window, Clock::duration bound) {
        const auto deadline = Clock::now() + bound;
        if (!X11WindowAnnouncesPing(display, window)) {
            std::this_thread::sleep_until(deadline);
            return;
        }
        const long serial = ++pingSerial;
        auto isAnswer = [&](const XEvent& event) {
            return event.xclient.message_type == wmProtocols && event.xclient.format == 32 &&
                   static_cast<Atom>(event.xclient.data.l[0]) == netWmPing &&
                   event.xclient.data.l[1] == serial &&
                   static_cast<Window>(event.xclient.data.l[2]) == window;
        };
        XSelectInput(display, root, PropertyChangeMask | X11PingAnswerMask);  // answers come to the root
        sendClientMessage(window, NoEventMask, window, wmProtocols, static_cast<long>(netWmPing), serial,
                          static_cast<long>(window));
        bool answered = false;
        // Takes the root's events of the wait off the queue (nothing else here reads them).
        auto takeInRootEvents = [&] {
            XEvent event;
            while (XCheckTypedWindowEvent(display, root, ClientMessage, &event)) {
                answered = answered || isAnswer(event);
            }
            while (XCheckWindowEvent(display, root, X11PingAnswerMask, &event)) {
            }
        };
        for (;;) {
            takeInRootEvents();
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (answered || left.count() <= 0) {
                break;
            }
            pollfd readable{ConnectionNumber(display), POLLIN, 0};
            poll(&readable, 1, static_cast<int>(left.count()));
        }
        XSelectInput(display, root, PropertyChangeMask);
        XSync(display, False);
        takeInRootEvents();
        if (!answered) {
            std::this_thread::sleep_until(deadline);
        }
    }

    void sendToRoot(Window about, Atom type, long l0, long l1, long l2, long l3 = 0) {
        sendClientMessage(root, SubstructureRedirectMask | SubstructureNotifyMask, about, type, l0, l1, l2,
                          l3);
    }

    void sendClientMessage(Window destination, long mask, Window about, Atom type, long l0, long l1, long l2,
                           long l3 = 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = about;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        event.xclient.data.l[0] = l0;
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        XSendEvent(display, destination, False, mask, &event);
    }

    // The top-level window (child of the root) that contains w, or w itself when it is one.
    Window topLevelOf(Window w) const {
        while (w != 0 && w != root) {
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, w, &rootReturn, &parent, &children, &count)) {
                return 0;
            }
            if (children != nullptr) {
                XFree(children);
            }
            if (parent == root) {
                return w;
            }
            w = parent;
        }
        return 0;
    }

    // True when the keyboard focus is w or one of its descendants (the manager's frame around it
    // does not count).
    bool holdsInputFocus(Window w) const {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        while (focus != 0 && focus != PointerRoot && focus != root) {
            if (focus == w) {
                return true;
            }
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, focus, &rootReturn, &parent, &children, &count)) {
                return false;
            }
            if (children != nullptr) {
                XFree(children);
            }
            focus = parent;
        }
        return false;
    }

    bool viewable(Window w) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display, w, &attributes) != 0 && attributes.map_state == IsViewable;
    }
};

X11WindowSystem::X11WindowSystem(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11WindowSystem::~X11WindowSystem() = default;

std::unique_ptr<X11WindowSystem> X11WindowSystem::open(std::string* why) {
    InstallQuietX11ErrorHandler();
    auto impl = std::make_unique<Impl>();
    impl->display = OpenX11Connection();
    if (impl->display == nullptr) {
        if (why != nullptr) {
            *why = "cannot open the X display";
        }
        return nullptr;
    }
    Display* d = impl->display;
    impl->root = DefaultRootWindow(d);
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    impl->clock = XCreateWindow(d, impl->root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask,
                                &attributes);
    impl->netActiveWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    impl->netSupportingWmCheck = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    impl->netWmState = XInternAtom(d, "_NET_WM_STATE", False);
    impl->netWmStateAbove = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
    impl->netWmStateBelow = XInternAtom(d, "_NET_WM_STATE_BELOW", False);
    impl->netRestackWindow = XInternAtom(d, "_NET_RESTACK_WINDOW", False);
    impl->netWmWindowType = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    impl->netWmWindowTypeDialog = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    impl->timestampProperty = XInternAtom(d, "VARNEL_TIMESTAMP", False);
    impl->targetProperty = XInternAtom(d, "_VARNEL_TARGET_WINDOW", False);
    impl->capturedProperty = XInternAtom(d, "_VARNEL_CAPTURED_TEXTS", False);
    impl->netWmPid = XInternAtom(d, "_NET_WM_PID", False);
    impl->wmClientLeader = XInternAtom(d, "WM_CLIENT_LEADER", False);
    impl->ownPid = static_cast<long>(::getpid());
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        impl->ownHost = host;
    }
    impl->wmProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
    impl->netWmPing = XInternAtom(d, "_NET_WM_PING", False);
    XSelectInput(d, impl->root, PropertyChangeMask);
    return std::unique_ptr<X11WindowSystem>(new X11WindowSystem(std::move(impl)));
}

Result<WindowHandle> X11WindowSystem::foregroundWindow() {
    Impl& x = *impl_;
    x.refreshCache();
    if (x.cached.ewmh) {
        return Result<WindowHandle>::success(static_cast<WindowHandle>(x.cached.active));
    }
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(x.display, &focus, &revert);
    if (focus == None || focus == PointerRoot) {
        return Result<WindowHandle>::success(0);
    }
    return Result<WindowHandle>::success(static_cast<WindowHandle>(x.topLevelOf(focus)));
}

bool X11WindowSystem::isOwnWindow(WindowHandle window) {
    Impl& x = *impl_;
    if (window == 0) {
        return false;
    }
    // The tick asks about the active window five times a second: that answer is kept until the
    // active window changes.
    x.refreshCache();
    const bool active = x.cached.valid && window == x.cached.active;
    if (active && x.cached.activeIsOwn) {
        return *x.cached.activeIsOwn;
    }
    const bool own = x.createdHere(static_cast<Window>(window));
    if (active) {
        x.cached.activeIsOwn = own;
    }
    return own;
}

Status X11WindowSystem::makeForeground(WindowHandle window) {
    Impl& x = *impl_;
    if (window == 0 || !windowExists(window)) {
        return Status::failure("no such window");
    }
    x.refreshCache();
    if (x.cached.ewmh) {
        x.sendToRoot(window, x.netActiveWindow, SourcePager, static_cast<long>(x.serverTime()), 0);
        XFlush(x.display);
        // The manager answers within a few milliseconds; wait for it, bounded, so that the caller's
        // re-check usually sees the result of this request rather than sending another.
        // Keys sent right after the manager has announced the new active window can still reach the
        // old focus: wait until the input focus itself is inside the window too, then give the
        // application a moment to take in its FocusIn.
        const auto deadline = Clock::now() + 150ms;
        while (Clock::now() < deadline) {
            const auto active = x.windowProperty(x.root, x.netActiveWindow);
            if (active && *active == window && x.holdsInputFocus(window)) {
                x.waitUntilHandled(window, 15ms);
                return Status::success();
            }
            std::this_thread::sleep_for(2ms);
        }
        return Status::success();  // asked; the caller re-checks
    }
    XRaiseWindow(x.display, window);
    XSetInputFocus(x.display, window, RevertToParent, CurrentTime);
    XSync(x.display, False);
    return Status::success();
}

bool X11WindowSystem::windowExists(WindowHandle window) {
    if (window == 0) {
        return false;
    }
    XWindowAttributes attributes{};
    return XGetWindowAttributes(impl_->display, window, &attributes) != 0;
}

Status X11WindowSystem::setZOrder(WindowHandle window, ZOrderMode mode) {
    Impl& x = *impl_;
    if (!windowExists(window)) {
        return Status::failure("no such window");
    }
    // A window that was only just shown may not be managed yet; the manager ignores state requests
    // for it until then. Wait for it, bounded.
    const auto deadline = Clock::now() + 500ms;
    while (!x.viewable(window) && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    x.refreshCache();
    const bool ewmh = x.cached.ewmh;
    const long above = static_cast<long>(x.netWmStateAbove);
    const long below = static_cast<long>(x.netWmStateBelow);
    // Managers differ in what they honour: xfwm4 has no _NET_RESTACK_WINDOW, fluxbox takes it only
    // with a sibling. A stacking request on the window itself (a ConfigureRequest the manager
    // intercepts) is honoured by every stacking manager, so both are sent; they ask for the same place.
    // (i3 has no layers: its floating windows stay above tiled ones whatever is asked.)
    switch (mode) {
        case ZOrderMode::Topmost:
            if (ewmh) {
                x.sendToRoot(window, x.netWmState, NetWmStateRemove, below, 0, SourcePager);
                x.sendToRoot(window, x.netWmState, NetWmStateAdd, above, 0, SourcePager);
                x.sendToRoot(window, x.netRestackWindow, SourcePager, 0, Above);
            }
            XRaiseWindow(x.display, window);
            break;
        case ZOrderMode::NotTopmost:
            if (ewmh) {
                x.sendToRoot(window, x.netWmState, NetWmStateRemove, above, 0, SourcePager);
            }
            break;
        case ZOrderMode::Bottom:
            if (ewmh) {
                x.sendToRoot(window, x.netWmState, NetWmStateRemove, above, 0, SourcePager);
                x.sendToRoot(window, x.netRestackWindow, SourcePager, 0, Below);
            }
            XLowerWindow(x.display, window);
            break;
    }
    XSync(x.display, False);
    return Status::success();
}

Status X11WindowSystem::keepFloating(WindowHandle window) {
    Impl& x = *impl_;
    if (!windowExists(window)) {
        return Status::failure("no such window");
    }
    // A dialog without an owner: tiling managers float dialogs at their own size, stacking managers
    // place it like any other window, and taskbars list it (they leave out only dialogs that belong
    // to another window, and utility windows). Set before the window is first mapped, as managers read
    // the type only then.
    const unsigned long type = x.netWmWindowTypeDialog;
    XChangeProperty(x.display, window, x.netWmWindowType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&type), 1);
    XSync(x.display, False);
    return Status::success();
}

Status X11WindowSystem::showValue(WindowHandle own, ShownValue which, std::uint64_t value) {
    Impl& x = *impl_;
    if (own == 0) {
        return Status::failure("no window to show it on");
    }
    const bool target = which == ShownValue::TargetWindow;
    // Format 32 data is passed to Xlib as longs, whatever the size of a long.
    const unsigned long data = static_cast<unsigned long>(value & 0xFFFFFFFFu);
    XChangeProperty(x.display, own, target ? x.targetProperty : x.capturedProperty,
                    target ? XA_WINDOW : XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&data), 1);
    // Sent without a round trip: it is done on every change. Should our window have gone meanwhile,
    // the error goes to the quiet handler.
    XFlush(x.display);
    return Status::success();
}

Result<MonitorArea> X11WindowSystem::primaryMonitorArea() {
    if (impl_->primaryMonitor) {
        return Result<MonitorArea>::success(*impl_->primaryMonitor);
    }
    const int screen = DefaultScreen(impl_->display);
    const auto units = [this](int device) {
        return static_cast<int>(std::lround(device / impl_->devicePixelsPerUnit));
    };
    return Result<MonitorArea>::success(MonitorArea{0, 0, units(DisplayWidth(impl_->display, screen)),
                                                    units(DisplayHeight(impl_->display, screen))});
}

void X11WindowSystem::setPrimaryMonitorArea(const MonitorArea& area) {
    if (area.width > 0 && area.height > 0) {
        impl_->primaryMonitor = area;
    }
}

Result<TwipsPerPixel> X11WindowSystem::twipsPerPixel() {
    const auto twips = static_cast<float>(1440.0 / impl_->unitsPerInch);
    return Result<TwipsPerPixel>::success(TwipsPerPixel{twips, twips});
}

void X11WindowSystem::setPlacementUnit(double devicePixelsPerUnit, double unitsPerInch) {
    if (devicePixelsPerUnit > 0 && std::isfinite(devicePixelsPerUnit)) {
        impl_->devicePixelsPerUnit = devicePixelsPerUnit;
    }
    if (unitsPerInch > 0 && std::isfinite(unitsPerInch)) {
        impl_->unitsPerInch = unitsPerInch;
    }
}

}  // namespace varnel
