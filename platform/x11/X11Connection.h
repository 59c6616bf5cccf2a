#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

namespace varnel {

// Our connections to the X server. Xlib's own reaction to a lost connection (the server went away,
// or someone killed our client) is to end the process from whichever thread noticed it, while other
// threads still run. Connections opened here never do that: the connection is marked lost, its own
// onLost runs (on the thread that noticed; keep it short and thread-safe, e.g. ask a loop to stop),
// then the process-wide handler (SetX11ConnectionLostHandler) runs once for the whole process. Every
// later call on the lost connection fails and returns at once.

// Opens the display named by DISPLAY; nullptr when it cannot be opened.
_XDisplay* OpenX11Connection(std::function<void()> onLost = {});

// Treats a connection opened elsewhere (the toolkit's) the same way, without an onLost of its own.
void WatchX11Connection(_XDisplay* display);

// The process-wide reaction to the first lost connection; it may run on any thread.
void SetX11ConnectionLostHandler(std::function<void()> handler);

// Runs the process-wide handler, unless it already ran: for a loss noticed outside Xlib (the
// toolkit's own connection). Returns whether this call ran it.
bool NotifyX11ConnectionLost();

// Closes a connection of ours that was held open.
struct X11ConnectionCloser {
    void operator()(_XDisplay* display) const;
};
using HeldX11Connection = std::unique_ptr<_XDisplay, X11ConnectionCloser>;

// The root window's event mask that hears every client's answer to a _NET_WM_PING: GTK and Tk send it
// on to the clients that select substructure events there, Qt to those that select structure events
// (StructureNotifyMask | SubstructureNotifyMask, without Xlib's header).
constexpr long X11PingAnswerMask = (1L << 17) | (1L << 19);

// Whether the window lists _NET_WM_PING among its WM_PROTOCOLS. Only such a client may be pinged: an Xt
// program such as xterm takes any WM_PROTOCOLS message for a close request.
bool X11WindowAnnouncesPing(_XDisplay* display, unsigned long window);

// Whether a _NET_WM_PING may be tried on the window although it does not announce one: it names itself
// the EWMH way (_NET_WM_NAME), as Tk does, which answers pings unannounced.
// An old-style client (Xt: xterm, xedit) sets no such property, and a ping would close it.
bool X11WindowMayBeProbedWithPing(_XDisplay* display, unsigned long window);

// Sends window a 32-bit client message of the given type (to its creator only), data in its first words.
void SendX11ClientMessage(_XDisplay* display, unsigned long window, unsigned long type,
                          std::initializer_list<long> data);

// Tries the display named by DISPLAY once, before anything else connects: nullopt when it opens,
// otherwise why not, for the user. The probe's connection is handed to *held when given. An X server
// whose last client disconnects resets, and refuses new connections while it does: the caller keeps
// the connection until the toolkit has connected, so that the probe never leaves the server empty.
std::optional<std::string> ProbeX11Display(HeldX11Connection* held = nullptr);

}  // namespace varnel
