// Handles and waits shared by the Windows backends of windows, clipboard and keys.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>

#include "platform/WindowSystem.h"

namespace varnel {

inline HWND ToHwnd(WindowHandle window) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}
inline WindowHandle FromHwnd(HWND window) {
    return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(window));
}

// Answers the messages other threads have sent to this thread's windows (a paste's WM_RENDERFORMAT
// among them), and nothing else: posted messages and input stay queued.
void ServeSentMessages();
// Waits for the duration while answering sent messages: another program that waits for us (the
// target pasting our text) is never kept waiting by one of our own waits.
void WaitServingSentMessages(std::chrono::milliseconds duration);

// The process that owns a window; 0 when the window is gone.
DWORD ProcessOfWindow(HWND window);

}  // namespace varnel
