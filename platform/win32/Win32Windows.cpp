#include "platform/win32/Win32Windows.h"

namespace varnel {

void ServeSentMessages() {
    MSG message;
    // PeekMessage delivers every pending sent message before it looks at the queue; with
    // PM_QS_SENDMESSAGE it looks at nothing else, so it never removes a posted message.
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void WaitServingSentMessages(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    ServeSentMessages();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()), QS_SENDMESSAGE, 0);
        ServeSentMessages();
    }
}

DWORD ProcessOfWindow(HWND window) {
    DWORD process = 0;
    if (window == nullptr || ::GetWindowThreadProcessId(window, &process) == 0) {
        return 0;
    }
    return process;
}

}  // namespace varnel
