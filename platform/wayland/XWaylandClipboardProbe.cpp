#include "platform/wayland/XWaylandClipboardProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <thread>

namespace varnel::wayland {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Between two questions to an owner that did not list the type yet.
constexpr milliseconds AskAgainAfter{5};

int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::unique_ptr<XWaylandClipboardProbe> XWaylandClipboardProbe::open() {
    if (std::getenv("DISPLAY") == nullptr) {
        return nullptr;
    }
    HeldX11Connection display(OpenX11Connection());
    if (!display) {
        return nullptr;
    }
    Display* d = display.get();
    const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    if (window == None) {
        return nullptr;
    }
    return std::unique_ptr<XWaylandClipboardProbe>(new XWaylandClipboardProbe(std::move(display), window));
}

XWaylandClipboardProbe::XWaylandClipboardProbe(HeldX11Connection display, unsigned long window)
    : display_(std::move(display)), window_(window) {}

XWaylandClipboardProbe::~XWaylandClipboardProbe() {
    XDestroyWindow(display_.get(), window_);
}

bool XWaylandClipboardProbe::x11WindowActive() {
    Display* d = display_.get();
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool read =
        XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success;
    const bool active = read && format == 32 && count == 1 && *reinterpret_cast<unsigned long*>(data) != None;
    if (data != nullptr) {
        XFree(data);
    }
    return active;
}

bool XWaylandClipboardProbe::offersTypeWithin(const std::string& type, milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    const Atom wanted = XInternAtom(display_.get(), type.c_str(), False);
    while (!offersType(wanted, deadline)) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(AskAgainAfter);
    }
    return true;
}

// One question: the owner's TARGETS, put on our window. An answer to an earlier question that comes
// late still tells the owner's state at the time it answered, which is no older than this question.
bool XWaylandClipboardProbe::offersType(unsigned long wanted, Clock::time_point deadline) {
    Display* d = display_.get();
    const Atom property = XInternAtom(d, "VARNEL_CLIPBOARD_TARGETS", False);
    XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, "TARGETS", False), property,
                      window_, CurrentTime);
    XFlush(d);
    XEvent event;
    while (!XCheckTypedWindowEvent(d, window_, SelectionNotify, &event)) {
        pollfd fd{ConnectionNumber(d), POLLIN, 0};
        if (poll(&fd, 1, MsUntil(deadline)) <= 0 || (fd.revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
    if (event.xselection.property == None) {
        return false;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool offered = false;
    if (XGetWindowProperty(d, window_, property, 0, 1024, True, XA_ATOM, &type, &format, &count, &after,
                           &data) == Success &&
        format == 32) {
        const auto* atoms = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count && !offered; ++i) {
            offered = atoms[i] == wanted;
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    return offered;
}

}  // namespace varnel::wayland
