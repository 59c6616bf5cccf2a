// The input method of the window that has the keyboard focus, switched off for a typing and back.
//
// An input method that is on (kana input, for one) composes the typed keys itself: "abc" arrives as
// "あbc" or stays in an open composition. Typing is exact only while it is off.
#pragma once

#include "base/Result.h"

namespace varnel {

class InputMethodControl {
  public:
    virtual ~InputMethodControl() = default;

    // Looks at the input method of the focused window and switches it off when it is on.
    // success(true): it was on and is off now, and restore() switches it back; success(false): none
    // is on (or none runs), nothing was changed. Failure: its state could not be known or changed
    // (an input method this program cannot talk to, or one that did not answer in time), so typed
    // keys might be composed.
    virtual Result<bool> suspend() = 0;
    // Puts back exactly what the last suspend() changed (on or off, and which input method), on the
    // window that has the focus now. Nothing when it changed nothing.
    virtual Status restore() = 0;
};

}  // namespace varnel
