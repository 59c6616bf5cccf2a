// The application the Windows end-to-end tests deliver into: one top-level window titled
// "Varnel test target" (or the first argument), filled by a multi-line EDIT (or the control class the
// second argument names: RICHEDIT50W is WordPad's rich edit control) that takes the keyboard focus
// whenever the window is activated, as an ordinary editor's text area does.
#include <windows.h>

namespace {

constexpr int kEditId = 100;
HWND edit = nullptr;
const wchar_t* editClass = L"EDIT";

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            edit = CreateWindowExW(WS_EX_CLIENTEDGE, editClass, L"",
                                   WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                       ES_WANTRETURN | ES_NOHIDESEL,
                                   0, 0, 0, 0, window, reinterpret_cast<HMENU>(kEditId), nullptr, nullptr);
            if (edit == nullptr) {
                return -1;
            }
            SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
            SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // no limit below the system's own
            return 0;
        case WM_SIZE:
            MoveWindow(edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return 0;
        case WM_SETFOCUS:
            SetFocus(edit);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* title = (argv != nullptr && argc > 1) ? argv[1] : L"Varnel test target";
    if (argv != nullptr && argc > 2) {
        editClass = argv[2];
        if (LoadLibraryW(L"msftedit.dll") == nullptr) {  // registers RICHEDIT50W
            return 1;
        }
    }

    WNDCLASSW cls{};
    cls.lpfnWndProc = TargetProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_IBEAM));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = L"VarnelWineTarget";
    if (RegisterClassW(&cls) == 0) {
        return 1;
    }
    HWND window = CreateWindowExW(0, cls.lpszClassName, title, WS_OVERLAPPEDWINDOW, 40, 40, 520, 380, nullptr,
                                  nullptr, instance, nullptr);
    LocalFree(argv);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
