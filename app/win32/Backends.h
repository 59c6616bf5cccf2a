// The window-system, clipboard and keyboard services of the Windows program.
#pragma once

#include "platform/EventPump.h"
#include "platform/win32/Win32Clipboard.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32WindowSystem.h"

namespace varnel {

class NativeBackends {
  public:
    // The clipboard's owner window belongs to the calling thread, the one `pump` pumps.
    explicit NativeBackends(EventPump& pump) : clipboard_(pump) {}
    Win32WindowSystem& windows() { return windows_; }
    Clipboard& clipboard() { return clipboard_; }
    Keyboard& keyboard() { return keyboard_; }

  private:
    Win32WindowSystem windows_;
    Win32Clipboard clipboard_;
    Win32Keyboard keyboard_;
};

}  // namespace varnel
