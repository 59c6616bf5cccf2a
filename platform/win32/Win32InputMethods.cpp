#include "platform/win32/Win32InputMethods.h"

// After windows.h:
#include <imm.h>

#include <string>

#include "platform/win32/Win32Support.h"

namespace varnel {

namespace {

// WM_IME_CONTROL's requests for the open status (from the IME development kit's header).
constexpr WPARAM GetOpenStatus = 0x0005;
constexpr WPARAM SetOpenStatus = 0x0006;

// The default IME window of the thread that has the focus in the window in front; null where there is
// none.
HWND FocusedImeWindow() {
    HWND front = ::GetForegroundWindow();
    if (front == nullptr) {
        return nullptr;
    }
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = ::GetWindowThreadProcessId(front, nullptr);
    HWND focus = ::GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr ? info.hwndFocus : front;
    return ::ImmGetDefaultIMEWnd(focus);
}

Result<DWORD_PTR> Ask(HWND ime, WPARAM request, LPARAM value) {
    DWORD_PTR answer = 0;
    if (::SendMessageTimeoutW(ime, WM_IME_CONTROL, request, value, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                              Win32InputMethods::AnswerBoundMs, &answer) == 0) {
        return Result<DWORD_PTR>::failure("the input method of the window in front did not answer within " +
                                          std::to_string(Win32InputMethods::AnswerBoundMs) + " ms (" +
                                          LastErrorText() + ")");
    }
    return Result<DWORD_PTR>::success(answer);
}

Result<bool> IsOpen(HWND ime) {
    const auto open = Ask(ime, GetOpenStatus, 0);
    return open ? Result<bool>::success(open.value() != 0) : Result<bool>::failure(open.error());
}

// Sets the open status and reads it back: an IME may refuse a change without saying so.
Status SetOpen(HWND ime, bool open) {
    if (const auto set = Ask(ime, SetOpenStatus, open ? 1 : 0); !set) {
        return Status::failure(set.error());
    }
    const auto now = IsOpen(ime);
    if (!now) {
        return Status::failure(now.error());
    }
    if (now.value() != open) {
        return Status::failure(open ? "the input method of the window in front did not switch on again"
                                    : "the input method of the window in front did not switch off");
    }
    return Status::success();
}

}  // namespace

Result<bool> Win32InputMethods::suspend() {
    switchedOff_ = false;
    HWND ime = FocusedImeWindow();
    if (ime == nullptr) {
        return Result<bool>::success(false);
    }
    const auto open = IsOpen(ime);
    if (!open) {
        return Result<bool>::failure(open.error());
    }
    if (!open.value()) {
        return Result<bool>::success(false);
    }
    if (const Status off = SetOpen(ime, false); !off) {
        // It may have switched off all the same (an answer came late): on again, as far as it answers,
        // since the text is pasted and nothing restores it later.
        IgnoreFailure(Ask(ime, SetOpenStatus, 1), "the failure to switch it off is what is reported");
        return Result<bool>::failure(off.error());
    }
    switchedOff_ = true;
    return Result<bool>::success(true);
}

Status Win32InputMethods::restore() {
    if (!switchedOff_) {
        return Status::success();
    }
    switchedOff_ = false;
    HWND ime = FocusedImeWindow();
    if (ime == nullptr) {
        return Status::failure("the window in front has no input method to switch on again");
    }
    return SetOpen(ime, true);
}

}  // namespace varnel
