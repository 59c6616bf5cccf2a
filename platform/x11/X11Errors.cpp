#include "platform/x11/X11Errors.h"

#include <X11/Xlib.h>

#include <mutex>

namespace varnel {

namespace {
int QuietHandler(Display*, XErrorEvent*) {
    return 0;
}
}  // namespace

void InstallQuietX11ErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(QuietHandler);
    });
}

}  // namespace varnel
