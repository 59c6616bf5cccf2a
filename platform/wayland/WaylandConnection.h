// Small helpers shared by the Wayland backends: each backend has a wl_display connection of its own
// and never blocks on the compositor without a bound.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct wl_display;
struct wl_registry;
struct wl_registry_listener;
struct wl_seat;

namespace varnel::wayland {

// How long setting up a connection may wait for the compositor's answers. A busy compositor (KWin at
// the start of a session, or on a loaded machine) takes more than half a second now and then; a hung
// one costs this once, at the start.
inline constexpr std::chrono::milliseconds ConnectBound{2000};

// Sends what is queued and waits up to `bound` for the compositor to have handled it (wl_display.sync),
// dispatching the events that arrive meanwhile. False on timeout or a broken connection.
bool Roundtrip(wl_display* display, std::chrono::milliseconds bound);

// Sends what is queued and dispatches the events that have already arrived, without waiting.
// False when the connection is broken.
bool DispatchPending(wl_display* display);

// Connects to the compositor that WAYLAND_DISPLAY names, hands its globals to `listener` (with
// `data`) and waits, within the bound, until the first round of them has been seen. Null on
// success; otherwise why it failed. *display and *registry are set as far as they were made, for the
// caller to release.
const char* ConnectAndListGlobals(wl_display** display, wl_registry** registry,
                                  const wl_registry_listener* listener, void* data,
                                  std::chrono::milliseconds bound);

// The globals of the protocols the native backends use that a compositor offers to this program.
struct OfferedProtocols {
    bool dataControl = false;
    bool toplevels = false;        // wlroots' foreign-toplevel list
    bool virtualKeyboard = false;  // wlroots' virtual keyboard
    bool plasmaWindows = false;    // KWin's plasma window management (granted by a desktop entry)
    bool fakeInput = false;        // KWin's fake input (likewise)
    bool kde = false;              // the compositor offers KDE protocols at all: it is KWin

    // Everything sending needs: the wlroots set, or KWin's.
    bool complete() const {
        return dataControl && ((toplevels && virtualKeyboard) || (plasmaWindows && fakeInput));
    }
    // The interfaces of the set this compositor is closest to that it does not offer, comma-separated.
    std::string missing() const;
};

// The names KWin's desktop-entry key X-KDE-Wayland-Interfaces lists for the grant: the window list and
// fake input are needed, the key states (whether Caps Lock is on) are used where granted.
inline constexpr const char* KWinGrantedInterfaces =
    "org_kde_plasma_window_management,org_kde_kwin_fake_input,org_kde_kwin_keystate";

// A backend's own connection with its registry and the seat it bound. A backend's state derives from
// it: the backend releases what it made on the connection, then this releases the seat, the registry
// and the connection.
struct SeatConnection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;

    SeatConnection() = default;
    SeatConnection(const SeatConnection&) = delete;
    SeatConnection& operator=(const SeatConnection&) = delete;
    ~SeatConnection();

    // ConnectAndListGlobals within ConnectBound, and the seat among the globals. Null on success;
    // otherwise why it failed.
    const char* connect(const wl_registry_listener* listener, void* data);
};

// For the backends' open(): puts the reason into *why (when given) and answers null.
std::nullptr_t Failed(std::string* why, const std::string& reason);

// Asks the compositor that WAYLAND_DISPLAY names, on a connection of its own and within the bound,
// which of those protocols it offers. Empty when it cannot be reached or does not answer in time.
std::optional<OfferedProtocols> ListOfferedProtocols(std::chrono::milliseconds bound);

// Why the connection broke, for messages; empty while it works.
std::string ConnectionError(wl_display* display);

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Milliseconds of the monotonic clock, as key events carry them.
std::uint32_t NowMilliseconds();

}  // namespace varnel::wayland
