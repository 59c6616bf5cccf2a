// The window-system, clipboard and keyboard services of the Windows program.
#pragma once

#include "app/win32/StandIns.h"
#include "platform/EventPump.h"

namespace varnel {

class NativeBackends {
  public:
    explicit NativeBackends(EventPump& /*pump*/) {}
    WindowSystem& windows() { return windows_; }
    Clipboard& clipboard() { return clipboard_; }
    Keyboard& keyboard() { return keyboard_; }

  private:
    StandInWindowSystem windows_;
    StandInClipboard clipboard_;
    StandInKeyboard keyboard_;
};

}  // namespace varnel
