#include "platform/win32/Win32TickTimer.h"

namespace varnel {

void Win32TickTimer::setEnabled(bool on) {
    enabled_ = on;
    if (on) {
        running_ = SetTimer(window_, id_, interval_, nullptr) != 0;
    } else if (running_) {
        KillTimer(window_, id_);
        running_ = false;
    }
}

}  // namespace varnel
