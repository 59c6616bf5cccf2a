// The input method (IME) of the window in front on Windows, switched off for a typing and back.
//
// With a Japanese IME on, Return and Tab confirm or move through a composition rather than reaching
// the window, and characters may be composed. Every thread's default IME window answers
// WM_IME_CONTROL (open status: read, set) for the thread's focused window, also to another process.
#pragma once

#include <windows.h>

#include "platform/InputMethodControl.h"

namespace varnel {

class Win32InputMethods : public InputMethodControl {
  public:
    // Each question to an IME window is bounded by this (a hung target is not waited for).
    static constexpr UINT AnswerBoundMs = 200;

    // success(false) also where the system names no IME window for the window in front (none is
    // loaded for its thread; Wine names none for another process's window).
    Result<bool> suspend() override;
    Status restore() override;

  private:
    bool switchedOff_ = false;
};

}  // namespace varnel
