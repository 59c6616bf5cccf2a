// The error log of our X connections: each display's errors reach its own log, whichever way Xlib
// hands them over, and no error ends the process.
#include <gtest/gtest.h>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Errors.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>

namespace varnel {
namespace {

constexpr Window NoSuchWindow = 0x3FFFFFF;

struct OpenDisplay {
    Display* display = OpenX11Connection();
    ~OpenDisplay() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
};

TEST(X11ErrorLogTest, EachDisplayKeepsItsOwnErrors) {
    OpenDisplay first, second, unwatched;
    ASSERT_NE(first.display, nullptr);
    ASSERT_NE(second.display, nullptr);
    ASSERT_NE(unwatched.display, nullptr);
    X11ErrorLog firstLog(first.display);
    X11ErrorLog secondLog(second.display);
    EXPECT_TRUE(firstLog.hooked());

    // Met while waiting for a reply: the display's hook.
    {
        const X11ErrorTrap trap(firstLog);
        XMapWindow(first.display, NoSuchWindow);
        XSync(first.display, False);
        EXPECT_TRUE(trap.caught());
    }
    // Read together with the events: the process-wide handler.
    XDeleteProperty(second.display, NoSuchWindow, XA_WM_NAME);
    XFlush(second.display);
    for (int i = 0; i < 200 && secondLog.count() == 0; ++i) {
        XPending(second.display);
        XSync(unwatched.display, False);  // a round trip of time for the error to arrive
    }
    // An error on a display without a log ends nothing.
    XMapWindow(unwatched.display, NoSuchWindow);
    XSync(unwatched.display, False);

    EXPECT_EQ(firstLog.count(), 1u);
    EXPECT_EQ(secondLog.count(), 1u);
    const auto firstError = firstLog.takeFirst();
    ASSERT_TRUE(firstError.has_value());
    EXPECT_EQ(firstError->code, BadWindow);
    EXPECT_EQ(firstError->request, X_MapWindow);
    EXPECT_FALSE(firstLog.takeFirst().has_value());  // taken once
    const auto secondError = secondLog.takeFirst();
    ASSERT_TRUE(secondError.has_value());
    EXPECT_EQ(secondError->request, X_DeleteProperty);

    // Only the first error waits to be taken; all are counted.
    {
        const X11ErrorTrap trap(firstLog);
        XMapWindow(first.display, NoSuchWindow);
        XUnmapWindow(first.display, NoSuchWindow);
        XSync(first.display, False);
        EXPECT_TRUE(trap.caught());
    }
    EXPECT_EQ(firstLog.count(), 3u);
    EXPECT_EQ(firstLog.takeFirst()->request, X_MapWindow);
    EXPECT_EQ(secondLog.count(), 1u);
}

}  // namespace
}  // namespace varnel
