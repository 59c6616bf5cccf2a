// A connection of our own to the session's XIM server, used as an ordering barrier.
//
// An XIM client hands the keys it reads to the server, which sends them back later; the client looks them
// up only then. The server handles the messages of all its clients in the order they reach it, so once it
// has answered a request we sent after the client had read its keys, it has sent those keys back before.
//
// Only what the barrier needs is spoken: the X transport (client messages, long messages also through a
// window property), connect, open and a request the server answers (get IM values with an empty list); the
// link ends by destroying our window, as a client that exits. Nothing here waits: the owner sends, runs its
// event loop with a bound, and hands every event to take(). The server is the owner of the selection
// "@server=NAME" for the NAME in XMODIFIERS
// ("@im=NAME"), when XIM_SERVERS on the root window lists it.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnel {

class XimLink {
  public:
    // The server named by modifiers (the value of XMODIFIERS) on this display; 0 when none is named or
    // the named one is not running. Round trips on display.
    static Window findServer(Display* display, Window root, const std::string& modifiers);

    // Creates our end (a window) and asks the server to connect; answers come through take().
    XimLink(Display* display, Window root, Window server);
    ~XimLink();
    XimLink(const XimLink&) = delete;
    XimLink& operator=(const XimLink&) = delete;

    // Whether the event belongs to this link (consumed); moves the handshake on and records answers.
    bool take(const XEvent& event);

    bool ready() const { return state_ == State::Open; }
    bool failed() const { return state_ == State::Failed; }

    // Sends a request the server must answer; answered() once it has.
    void ask();
    bool answered() const { return !awaiting_; }

  private:
    enum class State { Transport, Connecting, Opening, Open, Failed };
    void send(const std::vector<std::uint8_t>& message);
    void handle(const std::vector<std::uint8_t>& message);
    std::vector<std::uint8_t> message(std::uint8_t opcode, const std::vector<std::uint8_t>& body) const;
    std::uint16_t card16(const std::vector<std::uint8_t>& bytes, std::size_t at) const;
    void putCard16(std::vector<std::uint8_t>& bytes, std::uint16_t value) const;

    Display* display_;
    Window window_ = 0;     // ours, where the server's messages arrive
    Window serverEnd_ = 0;  // the server's window for this connection
    Atom connectAtom_, protocolAtom_, moreDataAtom_;
    State state_ = State::Transport;
    std::uint16_t imId_ = 0;
    bool awaiting_ = false;
    std::vector<std::uint8_t> partial_;  // a message arriving in parts
    bool bigEndian_;
};

}  // namespace varnel
