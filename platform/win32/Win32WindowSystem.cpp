#include "platform/win32/Win32WindowSystem.h"

#include <chrono>
#include <cstdint>

#include "platform/win32/Win32Support.h"
#include "platform/win32/Win32Windows.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A window manager that takes the foreground back does so within a few milliseconds of the change
// (measured under Wine with openbox: 2-19 ms, lost ~5 ms later); the target must stay in front this
// long before keys may follow.
constexpr auto SettleTime = 60ms;
constexpr auto SettleBound = 250ms;

// GetDpiForMonitor (shcore.dll, Windows 8.1 and later), looked up at run time so that the program
// still starts where it is missing.
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
GetDpiForMonitorFunction LookUpGetDpiForMonitor() {
    HMODULE shcore = ::LoadLibraryW(L"shcore.dll");
    if (shcore == nullptr) {
        return nullptr;
    }
    const FARPROC proc = ::GetProcAddress(shcore, "GetDpiForMonitor");
    return reinterpret_cast<GetDpiForMonitorFunction>(reinterpret_cast<void (*)()>(proc));
}

constexpr int EffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

// Logical DPI of a monitor, as this process sees it (a DPI-unaware process sees 96).
int MonitorDpi(HMONITOR monitor) {
    static const GetDpiForMonitorFunction getDpiForMonitor = LookUpGetDpiForMonitor();
    UINT x = 0, y = 0;
    if (getDpiForMonitor != nullptr && monitor != nullptr &&
        SUCCEEDED(getDpiForMonitor(monitor, EffectiveDpi, &x, &y)) && x > 0) {
        return static_cast<int>(x);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) {
        ::ReleaseDC(nullptr, screen);
    }
    return dpi;
}

HMONITOR ReferenceMonitor(WindowHandle reference) {
    HWND window = ToHwnd(reference);
    if (window != nullptr && ::IsWindow(window)) {
        return ::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    }
    return ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

}  // namespace

Result<WindowHandle> Win32WindowSystem::foregroundWindow() {
    return Result<WindowHandle>::success(FromHwnd(::GetForegroundWindow()));
}

Status Win32WindowSystem::makeForeground(WindowHandle window) {
    HWND target = ToHwnd(window);
    if (!windowExists(window)) {
        return Status::failure("no such window");
    }
    if (::IsIconic(target)) {
        ::ShowWindowAsync(target, SW_RESTORE);  // async: a hung target cannot stall us
    }
    // Also when it is in front already: it may have come there a moment ago, and what made it so
    // may still be settling.
    if (::GetForegroundWindow() != target &&
        (!::SetForegroundWindow(target) || ::GetForegroundWindow() != target)) {
        // Attached to the input of the thread in front, we count as that thread for the foreground
        // rules. Always detached again, whatever happened.
        HWND front = ::GetForegroundWindow();
        const DWORD frontThread = front != nullptr ? ::GetWindowThreadProcessId(front, nullptr) : 0;
        const DWORD ownThread = ::GetCurrentThreadId();
        const bool attached =
            frontThread != 0 && frontThread != ownThread && ::AttachThreadInput(ownThread, frontThread, TRUE);
        ::BringWindowToTop(target);
        ::SetForegroundWindow(target);
        if (attached) {
            ::AttachThreadInput(ownThread, frontThread, FALSE);
        }
    }
    const auto start = Clock::now();
    auto inFrontSince = Clock::time_point{};
    bool inFront = false;
    for (;;) {
        const auto now = Clock::now();
        if (::GetForegroundWindow() == target) {
            if (!inFront) {
                inFront = true;
                inFrontSince = now;
            } else if (now - inFrontSince >= SettleTime) {
                return Status::success();
            }
        } else {
            inFront = false;
        }
        if (now - start >= SettleBound) {
            return Status::failure(inFront ? "the window came to the front too late to settle there"
                                           : "the window did not come to the front, or did not stay there");
        }
        WaitServingSentMessages(5ms);
    }
}

bool Win32WindowSystem::windowExists(WindowHandle window) {
    HWND handle = ToHwnd(window);
    if (handle == nullptr || !::IsWindow(handle)) {
        return false;
    }
    return (::GetWindowLongPtrW(handle, GWL_STYLE) & WS_CHILD) == 0 &&
           ::GetAncestor(handle, GA_ROOT) == handle;
}

bool Win32WindowSystem::isOwnWindow(WindowHandle window) {
    // Every window of this process: the main window, the dialogs, message boxes, menus and tooltips.
    HWND handle = ToHwnd(window);
    DWORD process = 0;
    return handle != nullptr && ::GetWindowThreadProcessId(handle, &process) != 0 &&
           process == ::GetCurrentProcessId();
}

Status Win32WindowSystem::setZOrder(WindowHandle window, ZOrderMode mode) {
    HWND handle = ToHwnd(window);
    if (handle == nullptr || !::IsWindow(handle)) {
        return Status::failure("no such window");
    }
    constexpr UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    bool ok = true;
    switch (mode) {
        case ZOrderMode::Topmost:
            ok = ::SetWindowPos(handle, HWND_TOPMOST, 0, 0, 0, 0, flags);
            break;
        case ZOrderMode::NotTopmost:
            ok = ::SetWindowPos(handle, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
            break;
        case ZOrderMode::Bottom:
            // Out of the topmost group first, then behind every other window.
            ok = ::SetWindowPos(handle, HWND_NOTOPMOST, 0, 0, 0, 0, flags) &&
                 ::SetWindowPos(handle, HWND_BOTTOM, 0, 0, 0, 0, flags);
            break;
    }
    return ok ? Status::success() : Status::failure("SetWindowPos: " + LastErrorText());
}

Status Win32WindowSystem::showValue(WindowHandle own, ShownValue which, std::uint64_t value) {
    HWND window = ToHwnd(own);
    const wchar_t* name = which == ShownValue::TargetWindow ? TargetWindowProperty : CapturedTextsProperty;
    auto* handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
    if (window == nullptr || !::SetPropW(window, name, handle)) {
        return Status::failure("SetPropW: " + LastErrorText());
    }
    return Status::success();
}

void Win32WindowSystem::removeShownValues(WindowHandle own) {
    HWND window = ToHwnd(own);
    ::RemovePropW(window, TargetWindowProperty);
    ::RemovePropW(window, CapturedTextsProperty);
}

Result<MonitorArea> Win32WindowSystem::primaryMonitorArea() {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info)) {
        const int width = ::GetSystemMetrics(SM_CXSCREEN);
        const int height = ::GetSystemMetrics(SM_CYSCREEN);
        return width > 0 ? Result<MonitorArea>::success(MonitorArea{0, 0, width, height})
                         : Result<MonitorArea>::failure("no screen size");
    }
    const RECT& work = info.rcWork;
    return Result<MonitorArea>::success(MonitorArea{static_cast<int>(work.left), static_cast<int>(work.top),
                                                    static_cast<int>(work.right - work.left),
                                                    static_cast<int>(work.bottom - work.top)});
}

Result<TwipsPerPixel> Win32WindowSystem::twipsPerPixel() {
    const int dpi = MonitorDpi(ReferenceMonitor(reference_));
    if (dpi <= 0) {
        return Result<TwipsPerPixel>::failure("the screen's DPI could not be read");
    }
    const auto twips = static_cast<float>(1440.0 / dpi);
    return Result<TwipsPerPixel>::success(TwipsPerPixel{twips, twips});
}

}  // namespace varnel
