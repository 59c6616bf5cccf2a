#include "platform/x11/X11Connection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/x11/X11Errors.h"

static_assert(varnel::X11PingAnswerMask == (StructureNotifyMask | SubstructureNotifyMask));

namespace varnel {

namespace {

struct Connection {
    std::function<void()> onLost;
    std::atomic<bool> lost{false};
};

struct Registry {
    std::mutex mutex;
    // Records are kept for the life of the process (a handful of connections); an address reused by
    // a later XOpenDisplay gets a fresh record.
    std::map<Display*, std::shared_ptr<Connection>> connections;
    std::function<void()> handler;
    std::atomic<bool> notified{false};
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// Process-wide: runs first on every lost connection. Returning hands over to the connection's exit
// handler, which for our connections returns too; Xlib then fails the call that noticed.
int ReturnOnIoError(Display*) {
    return 0;
}

void OnConnectionLost(Display* display, void* data) {
    // Xlib takes the display's user lock before it reports the loss and keeps it, expecting the
    // process to end; held by this thread, it would block every other thread's later call on the
    // display (closing it included). Every report takes it once, so every report gives it back.
    XUnlockDisplay(display);
    auto* connection = static_cast<Connection*>(data);
    if (connection->lost.exchange(true)) {
        return;  // later calls on the dead connection end up here again
    }
    if (connection->onLost) {
        connection->onLost();
    }
    NotifyX11ConnectionLost();
}

void InstallReturningIoHandler() {
    static std::once_flag once;
    std::call_once(once, [] { XSetIOErrorHandler(ReturnOnIoError); });
}

void Watch(Display* display, std::function<void()> onLost) {
    InstallReturningIoHandler();
    auto connection = std::make_shared<Connection>();
    connection->onLost = std::move(onLost);
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        r.connections[display] = connection;
    }
    XSetIOErrorExitHandler(display, OnConnectionLost, connection.get());
}

}  // namespace

void SendX11ClientMessage(Display* display, unsigned long window, unsigned long type,
                          std::initializer_list<long> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 5), event.xclient.data.l);
    XSendEvent(display, window, False, NoEventMask, &event);
}

bool X11WindowAnnouncesPing(Display* display, unsigned long window) {
    Atom* protocols = nullptr;
    int count = 0;
    if (XGetWMProtocols(display, window, &protocols, &count) == 0) {
        return false;
    }
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    const bool found = std::find(protocols, protocols + count, ping) != protocols + count;
    XFree(protocols);
    return found;
}

bool X11WindowMayBeProbedWithPing(Display* display, unsigned long window) {
    if (X11WindowAnnouncesPing(display, window)) {
        return true;
    }
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 0,
                                          False, AnyPropertyType, &type, &format, &items, &after, &data);
    if (data != nullptr) {
        XFree(data);
    }
    return status == Success && type != None;
}

Display* OpenX11Connection(std::function<void()> onLost) {
    InstallQuietX11ErrorHandler();
    InstallReturningIoHandler();  // before the display exists: even its first requests never exit
    Display* display = XOpenDisplay(nullptr);
    if (display != nullptr) {
        Watch(display, std::move(onLost));
    }
    return display;
}

void WatchX11Connection(Display* display) {
    if (display != nullptr) {
        Watch(display, {});
    }
}

void SetX11ConnectionLostHandler(std::function<void()> handler) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.handler = std::move(handler);
}

bool NotifyX11ConnectionLost() {
    Registry& r = registry();
    if (r.notified.exchange(true)) {
        return false;
    }
    std::function<void()> handler;
    {
        std::lock_guard lock(r.mutex);
        handler = r.handler;
    }
    if (handler) {
        handler();
    }
    return true;
}

void X11ConnectionCloser::operator()(_XDisplay* display) const {
    if (display != nullptr) {
        XCloseDisplay(display);
    }
}

std::optional<std::string> ProbeX11Display(HeldX11Connection* held) {
    const char* name = std::getenv("DISPLAY");
    const std::string shown = name != nullptr ? name : "";
    if (shown.empty()) {
        return "DISPLAY is not set";
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return "cannot open the X display \"" + shown + "\": no X server there, or access refused";
    }
    if (held != nullptr) {
        held->reset(display);
    } else {
        XCloseDisplay(display);
    }
    return std::nullopt;
}

}  // namespace varnel
