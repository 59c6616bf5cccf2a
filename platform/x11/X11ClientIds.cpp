#include "platform/x11/X11ClientIds.h"

// The mask is part of the connection set-up, kept in the display structure that only this header shows.
#include <X11/Xlibint.h>

namespace varnel {

XID X11ResourceIdMask(Display* display) {
    return display->resource_mask;
}

}  // namespace varnel
