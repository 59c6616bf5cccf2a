// Small helpers shared by the Wayland backends: each backend has a wl_display connection of its own
// and never blocks on the compositor without a bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct wl_display;

namespace varnel::wayland {

// Sends what is queued and waits up to `bound` for the compositor to have handled it (wl_display.sync),
// dispatching the events that arrive meanwhile. False on timeout or a broken connection.
bool Roundtrip(wl_display* display, std::chrono::milliseconds bound);

// Sends what is queued and dispatches the events that have already arrived, without waiting.
// False when the connection is broken.
bool DispatchPending(wl_display* display);

// Asks the compositor that WAYLAND_DISPLAY names, on a connection of its own and within the bound,
// whether it offers every protocol the native backends need (data control, foreign toplevels, virtual
// keyboard). Empty when it cannot be reached or does not answer in time.
std::optional<bool> CompositorOffersDeliveryProtocols(std::chrono::milliseconds bound);

// Why the connection broke, for messages; empty while it works.
std::string ConnectionError(wl_display* display);

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Milliseconds of the monotonic clock, as key events carry them.
std::uint32_t NowMilliseconds();

}  // namespace varnel::wayland
