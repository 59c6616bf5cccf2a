#include "platform/x11/X11XimLink.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstring>

#include "platform/x11/X11Connection.h"

namespace varnel {

namespace {

// Message opcodes of the protocol, and what the link's requests are answered with.
enum Opcode : std::uint8_t {
    Connect = 1,
    ConnectReply = 2,
    Error = 20,
    Open = 30,
    OpenReply = 31,
    GetImValues = 44,
    GetImValuesReply = 45,
};

// Messages up to this size travel in one client message; longer ones in parts of it.
constexpr std::size_t ClientMessageBytes = 20;

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p != nullptr) {
            XFree(p);
        }
    }
};

}  // namespace

Window XimLink::findServer(Display* display, Window root, const std::string& modifiers) {
    const auto at = modifiers.find("@im=");
    if (at == std::string::npos) {
        return 0;
    }
    std::string name = modifiers.substr(at + 4);
    name = name.substr(0, name.find('@'));
    if (name.empty() || name == "none") {
        return 0;
    }
    const Atom wanted = XInternAtom(display, ("@server=" + name).c_str(), False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int read = XGetWindowProperty(display, root, XInternAtom(display, "XIM_SERVERS", False), 0, 1024,
                                        False, XA_ATOM, &type, &format, &count, &after, &data);
    std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
    if (read != Success || type != XA_ATOM || format != 32 || data == nullptr) {
        return 0;
    }
    const auto* servers = reinterpret_cast<const Atom*>(data);
    if (std::find(servers, servers + count, wanted) == servers + count) {
        return 0;
    }
    return XGetSelectionOwner(display, wanted);
}

XimLink::XimLink(Display* display, Window root, Window server)
    : display_(display),
      connectAtom_(XInternAtom(display, "_XIM_XCONNECT", False)),
      protocolAtom_(XInternAtom(display, "_XIM_PROTOCOL", False)),
      moreDataAtom_(XInternAtom(display, "_XIM_MOREDATA", False)) {
    const std::uint16_t one = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &one, 1);
    bigEndian_ = first == 0;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    window_ = XCreateWindow(display, root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                            CWOverrideRedirect, &attributes);
    // Transport version 0.0: client messages, with long messages through a property when the server
    // chooses so.
    SendX11ClientMessage(display, server, connectAtom_, {static_cast<long>(window_)});
}

XimLink::~XimLink() {
    if (window_ != 0) {
        XDestroyWindow(display_, window_);
    }
}

std::uint16_t XimLink::card16(const std::vector<std::uint8_t>& bytes, std::size_t at) const {
    if (at + 2 > bytes.size()) {
        return 0;
    }
    return bigEndian_ ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1])
                      : static_cast<std::uint16_t>(bytes[at + 1] << 8 | bytes[at]);
}

void XimLink::putCard16(std::vector<std::uint8_t>& bytes, std::uint16_t value) const {
    const auto high = static_cast<std::uint8_t>(value >> 8), low = static_cast<std::uint8_t>(value & 0xFF);
    bytes.push_back(bigEndian_ ? high : low);
    bytes.push_back(bigEndian_ ? low : high);
}

// A header (opcode, minor opcode 0, body length in 4-byte units) and the body padded to 4 bytes.
std::vector<std::uint8_t> XimLink::message(std::uint8_t opcode, const std::vector<std::uint8_t>& body) const {
    std::vector<std::uint8_t> bytes{opcode, 0};
    putCard16(bytes, static_cast<std::uint16_t>((body.size() + 3) / 4));
    bytes.insert(bytes.end(), body.begin(), body.end());
    bytes.resize(4 + (body.size() + 3) / 4 * 4, 0);
    return bytes;
}

void XimLink::send(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += ClientMessageBytes) {
        const bool last = at + ClientMessageBytes >= bytes.size();
        XEvent part{};
        part.xclient.type = ClientMessage;
        part.xclient.window = serverEnd_;
        part.xclient.message_type = last ? protocolAtom_ : moreDataAtom_;
        part.xclient.format = 8;
        std::copy(bytes.begin() + static_cast<long>(at),
                  bytes.begin() + static_cast<long>(std::min(bytes.size(), at + ClientMessageBytes)),
                  part.xclient.data.b);
        XSendEvent(display_, serverEnd_, False, NoEventMask, &part);
    }
}

bool XimLink::take(const XEvent& event) {
    if (event.type != ClientMessage || event.xclient.window != window_) {
        return false;
    }
    const XClientMessageEvent& m = event.xclient;
    if (m.message_type == connectAtom_ && state_ == State::Transport) {
        serverEnd_ = static_cast<Window>(m.data.l[0]);
        if (serverEnd_ == 0) {
            state_ = State::Failed;
            return true;
        }
        // Byte order, protocol version 1.0, no authentication.
        std::vector<std::uint8_t> body{static_cast<std::uint8_t>(bigEndian_ ? 0x42 : 0x6c), 0};
        putCard16(body, 1);
        putCard16(body, 0);
        putCard16(body, 0);
        send(message(Connect, body));
        state_ = State::Connecting;
    } else if (m.message_type == moreDataAtom_ && m.format == 8) {
        partial_.insert(partial_.end(), m.data.b, m.data.b + ClientMessageBytes);
    } else if (m.message_type == protocolAtom_ && m.format == 8) {
        partial_.insert(partial_.end(), m.data.b, m.data.b + ClientMessageBytes);
        handle(partial_);
        partial_.clear();
    } else if (m.message_type == protocolAtom_ && m.format == 32) {
        // A long message: its bytes wait in a property of our window.
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const long length = m.data.l[0];
        if (XGetWindowProperty(display_, window_, static_cast<Atom>(m.data.l[1]), 0, (length + 3) / 4, True,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data != nullptr && format == 8) {
            std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
            partial_.insert(partial_.end(), data, data + count);
            handle(partial_);
        } else if (data != nullptr) {
            XFree(data);
        }
        partial_.clear();
    }
    return true;
}

void XimLink::handle(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 4) {
        return;
    }
    switch (bytes[0]) {
        case ConnectReply:
            if (state_ == State::Connecting) {
                // The locale of the input method; the barrier composes nothing, so the plainest one.
                send(message(Open, {1, 'C'}));
                state_ = State::Opening;
            }
            break;
        case OpenReply:
            if (state_ == State::Opening) {
                imId_ = card16(bytes, 4);
                state_ = State::Open;
            }
            break;
        case GetImValuesReply:
            awaiting_ = false;
            break;
        case Error:
            // An error answers a request too; one before the link is open ends it.
            awaiting_ = false;
            if (state_ != State::Open) {
                state_ = State::Failed;
            }
            break;
        default:
            break;  // the server's own announcements (trigger keys, event masks)
    }
}

void XimLink::ask() {
    std::vector<std::uint8_t> body;
    putCard16(body, imId_);
    putCard16(body, 0);  // no attributes asked: the answer is all we want
    awaiting_ = true;
    send(message(GetImValues, body));
}

}  // namespace varnel
