#include "platform/wayland/WaylandConnection.h"

#include "base/Utf8.h"

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace varnel::wayland {

namespace {

using Clock = std::chrono::steady_clock;

void SyncDone(void* data, wl_callback* callback, std::uint32_t) {
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener SyncListener{SyncDone};

// Flushes, waits until the connection is readable or the deadline passes, reads and dispatches.
// False when the connection is broken.
bool PumpUntil(wl_display* display, Clock::time_point deadline) {
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            return false;
        }
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left > 0 ? left : 0));
    if (ready > 0) {
        if (wl_display_read_events(display) < 0) {
            return false;
        }
    } else {
        wl_display_cancel_read(display);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    return wl_display_dispatch_pending(display) >= 0;
}

}  // namespace

bool Roundtrip(wl_display* display, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (callback == nullptr) {
        return false;
    }
    wl_callback_add_listener(callback, &SyncListener, &done);
    while (!done && Clock::now() < deadline) {
        if (!PumpUntil(display, deadline)) {
            break;
        }
    }
    if (!done) {
        // A late answer goes to a destroyed proxy, which libwayland drops.
        wl_callback_destroy(callback);
    }
    return done && wl_display_get_error(display) == 0;
}

bool DispatchPending(wl_display* display) {
    return PumpUntil(display, Clock::now());
}

std::string ConnectionError(wl_display* display) {
    const int error = wl_display_get_error(display);
    if (error == 0) {
        return {};
    }
    return std::string("the Wayland connection broke: ") + std::strerror(error);
}

std::string ToUtf8(std::u16string_view in) {
    return EncodeUtf8(in);
}

std::uint32_t NowMilliseconds() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

namespace {

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    auto* offered = static_cast<OfferedProtocols*>(data);
    const std::string_view name(interface);
    offered->dataControl |= name == "zwlr_data_control_manager_v1";
    offered->toplevels |= name == "zwlr_foreign_toplevel_manager_v1";
    offered->virtualKeyboard |= name == "zwp_virtual_keyboard_manager_v1";
    offered->plasmaWindows |= name == "org_kde_plasma_window_management";
    offered->fakeInput |= name == "org_kde_kwin_fake_input";
    offered->kde |= name.starts_with("org_kde_");
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener ProbeListener{OnGlobal, OnGlobalRemove};

}  // namespace

const char* ConnectAndListGlobals(wl_display** display, wl_registry** registry,
                                  const wl_registry_listener* listener, void* data,
                                  std::chrono::milliseconds bound) {
    *display = wl_display_connect(nullptr);
    if (*display == nullptr) {
        return "cannot connect to the Wayland compositor";
    }
    *registry = wl_display_get_registry(*display);
    if (*registry == nullptr) {
        return "the Wayland compositor gave no registry";
    }
    wl_registry_add_listener(*registry, listener, data);
    if (!Roundtrip(*display, bound)) {
        return "the Wayland compositor did not answer";
    }
    return nullptr;
}

SeatConnection::~SeatConnection() {
    if (seat != nullptr) {
        wl_seat_destroy(seat);
    }
    if (registry != nullptr) {
        wl_registry_destroy(registry);
    }
    if (display != nullptr) {
        wl_display_disconnect(display);
    }
}

const char* SeatConnection::connect(const wl_registry_listener* listener, void* data) {
    if (const char* reason = ConnectAndListGlobals(&display, &registry, listener, data, ConnectBound)) {
        return reason;
    }
    return seat == nullptr ? "the compositor offers no seat" : nullptr;
}

std::nullptr_t Failed(std::string* why, const std::string& reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return nullptr;
}

std::string OfferedProtocols::missing() const {
    std::string names;
    auto need = [&names](bool offered, const char* name) {
        if (!offered) {
            names += (names.empty() ? "" : ",") + std::string(name);
        }
    };
    need(dataControl, "zwlr_data_control_manager_v1");
    if (kde) {
        need(plasmaWindows, "org_kde_plasma_window_management");
        need(fakeInput, "org_kde_kwin_fake_input");
    } else {
        need(toplevels, "zwlr_foreign_toplevel_manager_v1");
        need(virtualKeyboard, "zwp_virtual_keyboard_manager_v1");
    }
    return names;
}

std::optional<OfferedProtocols> ListOfferedProtocols(std::chrono::milliseconds bound) {
    wl_display* rawDisplay = nullptr;
    wl_registry* rawRegistry = nullptr;
    OfferedProtocols offered;
    const char* failure = ConnectAndListGlobals(&rawDisplay, &rawRegistry, &ProbeListener, &offered, bound);
    // Released in this order whatever happened: the registry, then the connection.
    const std::unique_ptr<wl_display, void (*)(wl_display*)> display(rawDisplay, wl_display_disconnect);
    const std::unique_ptr<wl_registry, void (*)(wl_registry*)> registry(rawRegistry, wl_registry_destroy);
    if (failure != nullptr) {
        return std::nullopt;
    }
    return offered;
}

}  // namespace varnel::wayland
