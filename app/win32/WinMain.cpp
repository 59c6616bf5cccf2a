// Varnel for Windows: puts the program together from the Win32 front end (ui/win32) and the Windows
// backends. --help and --version answer in a message box (the program has no console).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/win32/Backends.h"
#include "core/AppState.h"
#include "core/CommandLine.h"
#include "delivery/Delivery.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Codepage.h"
#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Support.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32Ui.h"

namespace {

constexpr const wchar_t* Usage =
    L"Usage: varnel.exe [SLOT-FILE]\n"
    L"       varnel.exe --help | --version\n"
    L"\n"
    L"Varnel keeps ten text slots in a small always-on-top window, captures new clipboard text into "
    L"them and sends a slot into the window you last worked in.\n"
    L"\n"
    L"SLOT-FILE: fill the slots from this file at start-up; capture then starts off. Everything after "
    L"the program name is the path; wildcards (* ? [...]) pick the first matching file.\n"
    L"\n"
    L"These words are options only while no file of that name exists; otherwise they name the slot "
    L"file.";

// Carries out an option of the command line; the exit status, or -1 to start as usual.
int RunCommandLineOption(const varnel::Win32Files& files) {
    switch (varnel::ReadCommandLine(files)) {
        case varnel::CommandLineRequest::Run:
            return -1;
        case varnel::CommandLineRequest::Help:
            MessageBoxW(nullptr, Usage, L"Varnel", MB_OK | MB_ICONINFORMATION);
            return 0;
        case varnel::CommandLineRequest::Version:
            MessageBoxW(nullptr, L"Varnel " VARNEL_VERSION_W, L"Varnel", MB_OK | MB_ICONINFORMATION);
            return 0;
        case varnel::CommandLineRequest::AutostartOn:
        case varnel::CommandLineRequest::AutostartOff:
        case varnel::CommandLineRequest::AutostartStatus:
        case varnel::CommandLineRequest::AutostartInvalid:
            MessageBoxW(nullptr,
                        L"--autostart is not available on Windows: put a shortcut to varnel.exe in the "
                        L"Startup folder (shell:startup) instead.",
                        L"Varnel", MB_OK | MB_ICONWARNING);
            return 2;
        case varnel::CommandLineRequest::GnomeExtensionInstall:
        case varnel::CommandLineRequest::GnomeExtensionRemove:
        case varnel::CommandLineRequest::GnomeExtensionInvalid:
            MessageBoxW(nullptr, L"--gnome-extension is for GNOME on Linux only.", L"Varnel",
                        MB_OK | MB_ICONWARNING);
            return 2;
    }
    return -1;
}

// A slot file named on the command line that could not be loaded: one line on standard error (seen
// where it is redirected) and a message box on a thread of its own, so that the main window goes on
// working while it is open. Capture stays off, as it does for a slot file that was loaded.
void ReportSlotFileNotLoaded(const std::string& why) {
    std::fprintf(stderr, "varnel: the slot file was not loaded: %s\n", why.c_str());
    std::fflush(stderr);
    auto text = std::make_unique<std::wstring>(L"スロットファイルを読み込めませんでした。\r\n" +
                                               varnel::WideFromUtf8(why) +
                                               L"\r\n\r\nThe slot file could not be loaded.");
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            const std::unique_ptr<std::wstring> message(static_cast<std::wstring*>(parameter));
            MessageBoxW(nullptr, message->c_str(), L"Varnel (スロットファイル)", MB_OK | MB_ICONWARNING);
            return 0;
        },
        text.get(), 0, nullptr);
    if (thread != nullptr) {
        text.release();  // the thread owns it now
        CloseHandle(thread);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    varnel::win32ui::EnablePerMonitorDpi();
    varnel::Win32Files files;
    if (const int status = RunCommandLineOption(files); status >= 0) {
        return status;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The windows hand their accessibility objects to screen readers in other processes through COM
    // (LresultFromObject); without it they fall back to the system's objects, which lack our roles.
    struct ComApartment {
        bool joined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ~ComApartment() {
            if (joined) {
                CoUninitialize();
            }
        }
    } com;

    varnel::Win32EventPump pump;
    varnel::NativeBackends backends(pump);
    varnel::Win32Codepage codepage;
    varnel::Win32Clock clock;

    varnel::AppState state;
    varnel::MainWindowState members;
    varnel::Win32MainWindow window(state, members);
    if (window.window() == nullptr) {
        MessageBoxW(nullptr, L"The main window could not be created.", L"Varnel", MB_OK | MB_ICONERROR);
        return 1;
    }
    varnel::Platform platform{backends.windows(),
                              backends.clipboard(),
                              backends.keyboard(),
                              pump,
                              window.tickTimer(),
                              files,
                              codepage,
                              clock};
    platform.inputMethod = &backends.inputMethods();  // typing switches the target's IME off and back
    // The screen metrics are those of the monitor the main window is on.
    backends.setReferenceWindow(window.nativeHandle());
    window.attach(platform);
    varnel::Win32EventPump::addDialog(window.window());
    // While a text is being typed, a mouse press on any of the program's windows (or Escape in one)
    // stops the typing; the press itself goes on to its control as usual.
    varnel::Win32EventPump::setWatcher([&window, &members](const MSG& message) {
        if (!members.Deliveries.typing) {
            return;
        }
        const bool press = message.message == WM_LBUTTONDOWN || message.message == WM_RBUTTONDOWN ||
                           message.message == WM_MBUTTONDOWN || message.message == WM_NCLBUTTONDOWN ||
                           message.message == WM_NCRBUTTONDOWN;
        const bool escape = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
        if (press || escape) {
            varnel::StopTyping(window.context());
        }
    });
    if (const varnel::Status loaded = window.load(); !loaded) {
        ReportSlotFileNotLoaded(loaded.error());
    }
    // A clipboard change is captured at once on the window's thread, not at the next tick.
    HWND main = window.window();
    backends.clipboard().setChangeListener(
        [main] { PostMessageW(main, varnel::Win32MainWindow::ClipboardChangedMessage, 0, 0); });
    const int status = pump.run();
    backends.clipboard().setChangeListener(nullptr);
    varnel::Win32EventPump::setWatcher(nullptr);
    varnel::Win32EventPump::removeDialog(window.window());
    return status;
}
