#include "platform/x11/X11Keyboard.h"

#include <algorithm>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyboardConnection.h"
#include "platform/x11/X11KeyboardJournal.h"

namespace varnel {

X11Keyboard::X11Keyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11Keyboard::~X11Keyboard() = default;

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why) {
    return open(why, Options{});
}

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why, Options options) {
    auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->display = OpenX11Connection([connection = impl.get()] { connection->connectionLost = true; });
    if (impl->display == nullptr) {
        return fail("the X display cannot be opened");
    }
    impl->errors = std::make_unique<X11ErrorLog>(impl->display);
    if (!impl->errors->hooked()) {
        return fail("no error hook could be installed on the X connection");
    }

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(impl->display, &eventBase, &errorBase, &major, &minor)) {
        return fail("the X server has no XTest extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    impl->xkb = XkbQueryExtension(impl->display, &opcode, &eventBase, &errorBase, &major, &minor) == True;
    impl->root = DefaultRootWindow(impl->display);
    impl->lockAtom = XInternAtom(impl->display, "_VARNEL_TYPING", False);
    impl->journalAtom = XInternAtom(impl->display, "_VARNEL_KEYMAP_JOURNAL", False);
    impl->journalType = XInternAtom(impl->display, "_VARNEL_KEYMAP_RECORD", False);
    impl->protocolsAtom = XInternAtom(impl->display, "WM_PROTOCOLS", False);
    impl->pingAtom = XInternAtom(impl->display, "_NET_WM_PING", False);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = PropertyChangeMask;  // the server's time, for the typing lock
    impl->lockWindow = XCreateWindow(impl->display, impl->root, -10, -10, 1, 1, 0, 0, InputOnly,
                                     CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    if (Status status = impl->sync("opening the keyboard"); !status) {
        return fail(status.error());
    }
    x11keyboard::repairLeftovers(*impl);
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(std::move(impl)));
}

X11Keyboard::KeycodeRange X11Keyboard::coreKeycodeRange(int minKeycode, int maxKeycode) {
    return KeycodeRange{std::max(minKeycode, 8), std::min(maxKeycode, 255)};
}

X11Keyboard::TypingStats X11Keyboard::lastTypingStats() const {
    return impl_->stats;
}

bool X11Keyboard::keysPassedInputMethod() const {
    return impl_->ximPassed;
}

}  // namespace varnel
