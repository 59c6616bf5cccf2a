// Telling which X client made a resource.
#pragma once

#include <X11/Xlib.h>

namespace varnel {

// The bits of a resource id that the server leaves to the client; the rest name the client. The
// server gives every client the same mask, so ids a and b come from one client exactly when
// (a & ~mask) == (b & ~mask).
XID X11ResourceIdMask(Display* display);

}  // namespace varnel
