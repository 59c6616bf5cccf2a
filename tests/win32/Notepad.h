// Wine's (or Windows') notepad as a target in a process of its own, ended with the test.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "platform/win32/Win32Windows.h"

namespace varnel {

// An edit control's text, as WM_GETTEXT gives it.
inline std::u16string EditText(HWND edit) {
    const auto length = ::SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return std::u16string(text.begin(), text.end());
}

class Notepad {
  public:
    Notepad() {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        wchar_t command[] = L"notepad.exe";
        if (!::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_)) {
            return;
        }
        ::WaitForInputIdle(process_.hProcess, 10000);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (top_ == nullptr && std::chrono::steady_clock::now() < deadline) {
            ::EnumWindows(
                [](HWND window, LPARAM self) -> BOOL {
                    auto* notepad = reinterpret_cast<Notepad*>(self);
                    if (ProcessOfWindow(window) == notepad->process_.dwProcessId &&
                        ::IsWindowVisible(window)) {
                        notepad->top_ = window;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
            WaitServingSentMessages(std::chrono::milliseconds(20));
        }
        edit_ = top_ != nullptr ? ::FindWindowExW(top_, nullptr, L"EDIT", nullptr) : nullptr;
    }
    ~Notepad() {
        if (process_.hProcess != nullptr) {
            ::TerminateProcess(process_.hProcess, 0);
            ::WaitForSingleObject(process_.hProcess, 5000);
            ::CloseHandle(process_.hThread);
            ::CloseHandle(process_.hProcess);
        }
    }
    Notepad(const Notepad&) = delete;
    Notepad& operator=(const Notepad&) = delete;

    WindowHandle handle() const { return FromHwnd(top_); }
    bool ready() const { return edit_ != nullptr; }
    HWND edit() const { return edit_; }
    std::u16string text() const { return EditText(edit_); }
    void clear() const { ::SendMessageW(edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"")); }
    bool awaitText(const std::u16string& expected, std::chrono::steady_clock::duration bound) const {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (text() != expected) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            WaitServingSentMessages(std::chrono::milliseconds(5));
        }
        return true;
    }

  private:
    PROCESS_INFORMATION process_{};
    HWND top_ = nullptr;
    HWND edit_ = nullptr;
};

}  // namespace varnel
