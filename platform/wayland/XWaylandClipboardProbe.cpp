#include "platform/wayland/XWaylandClipboardProbe.h"

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cstdlib>
#include <optional>
#include <thread>

namespace varnel::wayland {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the display may take to answer at all, and a question about the active window; the pause
// between two questions to an owner that did not list the type yet.
constexpr milliseconds OpenBound{1000}, ActiveWindowBound{200}, AskAgainAfter{5};

// Waits until `ready` returns a result or the connection has nothing more to read before the deadline.
template <class Poll>
auto WaitFor(xcb_connection_t* c, Clock::time_point deadline, Poll ready) -> decltype(ready()) {
    xcb_flush(c);
    while (true) {
        if (auto result = ready()) {
            return result;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        if (left <= 0 || xcb_connection_has_error(c) != 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) {
            return ready();
        }
    }
}

// The reply to request `sequence`, or null when it failed or did not come before the deadline.
template <class Reply>
std::unique_ptr<Reply, decltype(&std::free)> ReplyBy(xcb_connection_t* c, unsigned int sequence,
                                                     Clock::time_point deadline) {
    std::unique_ptr<Reply, decltype(&std::free)> reply(nullptr, &std::free);
    WaitFor(c, deadline, [&] {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &answer, &error) == 0) {
            return false;
        }
        std::free(error);
        reply.reset(static_cast<Reply*>(answer));
        return true;
    });
    return reply;
}

std::uint32_t Atom(xcb_connection_t* c, const std::string& name, Clock::time_point deadline) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    const auto reply = ReplyBy<xcb_intern_atom_reply_t>(c, cookie.sequence, deadline);
    return reply ? reply->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

}  // namespace

std::unique_ptr<XWaylandClipboardProbe> XWaylandClipboardProbe::open() {
    if (std::getenv("DISPLAY") == nullptr) {
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    const auto deadline = Clock::now() + OpenBound;
    Atoms atoms;
    if (xcb_connection_has_error(c) == 0 && screens.rem > 0) {
        atoms = {Atom(c, "CLIPBOARD", deadline), Atom(c, "TARGETS", deadline),
                 Atom(c, "_NET_ACTIVE_WINDOW", deadline), Atom(c, "VARNEL_CLIPBOARD_TARGETS", deadline)};
    }
    if (atoms.property == XCB_ATOM_NONE) {
        xcb_disconnect(c);
        return nullptr;
    }
    const std::uint32_t root = screens.data->root;
    const std::uint32_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    return std::unique_ptr<XWaylandClipboardProbe>(new XWaylandClipboardProbe(c, root, window, atoms));
}

XWaylandClipboardProbe::XWaylandClipboardProbe(xcb_connection_t* connection, std::uint32_t root,
                                               std::uint32_t window, Atoms atoms)
    : connection_(connection), root_(root), window_(window), atoms_(atoms) {}

XWaylandClipboardProbe::~XWaylandClipboardProbe() {
    xcb_destroy_window(connection_, window_);
    xcb_disconnect(connection_);
}

bool XWaylandClipboardProbe::x11WindowActive() {
    const auto cookie = xcb_get_property(connection_, 0, root_, atoms_.activeWindow, XCB_ATOM_WINDOW, 0, 1);
    const auto reply =
        ReplyBy<xcb_get_property_reply_t>(connection_, cookie.sequence, Clock::now() + ActiveWindowBound);
    return reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 4 &&
           *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) != XCB_WINDOW_NONE;
}

bool XWaylandClipboardProbe::offersTypeWithin(const std::string& type, milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    const std::uint32_t wanted = Atom(connection_, type, deadline);
    if (wanted == XCB_ATOM_NONE) {
        return false;
    }
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
bool XWaylandClipboardProbe::offersType(std::uint32_t wanted, Clock::time_point deadline) {
    xcb_convert_selection(connection_, window_, atoms_.clipboard, atoms_.targets, atoms_.property,
                          XCB_CURRENT_TIME);
    std::optional<bool> answered = WaitFor(connection_, deadline, [&]() -> std::optional<bool> {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const bool notify = (event->response_type & 0x7F) == XCB_SELECTION_NOTIFY;
            const bool stored =
                notify && reinterpret_cast<xcb_selection_notify_event_t*>(event)->property != XCB_ATOM_NONE;
            std::free(event);
            if (notify) {
                return stored;
            }
        }
        return std::nullopt;
    });
    if (!answered.value_or(false)) {
        return false;
    }
    const auto cookie = xcb_get_property(connection_, 1, window_, atoms_.property, XCB_ATOM_ATOM, 0, 1024);
    const auto reply = ReplyBy<xcb_get_property_reply_t>(connection_, cookie.sequence, deadline);
    if (!reply || reply->format != 32) {
        return false;
    }
    const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == wanted) {
            return true;
        }
    }
    return false;
}

}  // namespace varnel::wayland
