// The 200 ms tick as a window timer: WM_TIMER with the timer's id reaches the window's procedure,
// which runs the tick.
#pragma once

#include <windows.h>

#include "platform/TickTimer.h"

namespace varnel {

class Win32TickTimer : public TickTimer {
  public:
    Win32TickTimer(HWND window, UINT_PTR id, UINT intervalMs)
        : window_(window), id_(id), interval_(intervalMs) {}
    ~Win32TickTimer() override { setEnabled(false); }
    Win32TickTimer(const Win32TickTimer&) = delete;
    Win32TickTimer& operator=(const Win32TickTimer&) = delete;

    // Switching on restarts the interval. Should the system refuse the timer, it is asked for again
    // at the next setEnabled(true).
    void setEnabled(bool on) override;
    bool isEnabled() const override { return enabled_; }
    UINT_PTR id() const { return id_; }

  private:
    HWND window_;
    UINT_PTR id_;
    UINT interval_;
    bool enabled_ = false;
    bool running_ = false;
};

}  // namespace varnel
