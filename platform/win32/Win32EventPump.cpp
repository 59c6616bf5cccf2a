#include "platform/win32/Win32EventPump.h"

#include <algorithm>

namespace varnel {

std::vector<HWND>& Win32EventPump::dialogs() {
    static std::vector<HWND> windows;
    return windows;
}

void Win32EventPump::addDialog(HWND window) {
    auto& list = dialogs();
    if (std::find(list.begin(), list.end(), window) == list.end()) {
        list.push_back(window);
    }
}

void Win32EventPump::removeDialog(HWND window) {
    auto& list = dialogs();
    list.erase(std::remove(list.begin(), list.end(), window), list.end());
}

namespace {
std::function<void(const MSG&)>& Watcher() {
    static std::function<void(const MSG&)> watcher;
    return watcher;
}
}  // namespace

void Win32EventPump::setWatcher(std::function<void(const MSG&)> watcher) {
    Watcher() = std::move(watcher);
}

void Win32EventPump::dispatch(MSG& message) {
    if (Watcher()) {
        Watcher()(message);
    }
    for (HWND dialog : dialogs()) {
        if (message.hwnd != nullptr && (message.hwnd == dialog || IsChild(dialog, message.hwnd)) &&
            IsDialogMessageW(dialog, &message)) {
            return;
        }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void Win32EventPump::pumpOnce() {
    MSG message;
    // At most a thousand messages, so that a window that keeps posting to itself cannot keep the
    // caller here.
    for (int left = 1000; left > 0 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); --left) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        dispatch(message);
    }
}

int Win32EventPump::run() {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            return 1;
        }
        dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace varnel
