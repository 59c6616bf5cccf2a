// The end-to-end tests' hands and eyes on the Windows desktop: one small console program, run through
// Wine once per query, that finds windows, reads and writes their texts, clicks, types and uses the
// clipboard the way another application would. Texts go in and out as hexadecimal UTF-16LE, so that
// no code page stands between the tests and the windows; handles are decimal.
//
//   wintool windows                    hwnd pid visible exstyle class title   (one line per top-level window)
//   wintool children HWND              hwnd id visible class text left top right bottom
//   wintool text HWND                  the window's text (WM_GETTEXT)
//   wintool settext HWND HEX | sel HWND START END | getsel HWND
//   wintool foreground | activate HWND | close HWND | post HWND MSG WPARAM LPARAM
//   wintool send HWND MSG WPARAM LPARAM  sent with a time-out; prints the result (BM_GETCHECK, ...)
//   wintool click HWND                 BM_CLICK, posted
//   wintool mouse HWND left|right|double [X Y]   a real click (SendInput) at X,Y in the window, or its centre
//   wintool keys SPEC...               e.g. shift+insert ctrl+a down return escape
//   wintool type HEX                   each UTF-16 unit as a KEYEVENTF_UNICODE key
//   (HEX: "@FILE" reads it from that file)
//   wintool getclip ("-": no text) | setclip HEX | clearclip | clipseq
//   wintool hungclip SECONDS           offers text for delayed rendering, then hangs: never renders it
//   wintool rect HWND | workarea HWND | mem HWND
//   wintool prop HWND NAME             the window's property NAME (GetPropW) as a number; 0 when absent
//   wintool role HWND                  role name of the window's client area as a screen reader asks
//                                      for it (MSAA: AccessibleObjectFromWindow); role -1 when unanswered
#include <windows.h>
// After windows.h, which they need.
#include <oleacc.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr UINT kMessageTimeoutMs = 5000;

HWND ParseHandle(const wchar_t* text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(text, nullptr, 0)));
}

unsigned long long HandleValue(HWND window) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window));
}

std::string Hex(const std::wstring& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (wchar_t unit : text) {
        auto u = static_cast<unsigned>(unit);
        for (unsigned byte : {u & 0xFFu, (u >> 8) & 0xFFu}) {
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out.empty() ? std::string("-") : out;
}

bool Unhex(const wchar_t* hex, std::wstring& out);

// "@FILE": the hexadecimal text is read from that file (for texts longer than a command line).
bool UnhexArgument(const wchar_t* argument, std::wstring& out) {
    if (argument[0] != L'@') {
        return Unhex(argument, out);
    }
    FILE* file = _wfopen(argument + 1, L"rb");
    if (file == nullptr) {
        return false;
    }
    std::wstring hex;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c > ' ') {
            hex += static_cast<wchar_t>(c);
        }
    }
    std::fclose(file);
    return Unhex(hex.c_str(), out);
}

bool Unhex(const wchar_t* hex, std::wstring& out) {
    out.clear();
    if (std::wcscmp(hex, L"-") == 0) {
        return true;
    }
    size_t length = std::wcslen(hex);
    if (length % 4 != 0) {
        return false;
    }
    for (size_t i = 0; i < length; i += 4) {
        wchar_t pair[5] = {hex[i + 2], hex[i + 3], hex[i], hex[i + 1], 0};
        wchar_t* end = nullptr;
        unsigned long unit = std::wcstoul(pair, &end, 16);
        if (end != pair + 4) {
            return false;
        }
        out += static_cast<wchar_t>(unit);
    }
    return true;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool TextOf(HWND window, std::wstring& out) {
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length) ==
        0) {
        return false;
    }
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                            SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied) == 0) {
        return false;
    }
    out.assign(buffer.data(), copied);
    return true;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);  // the window's own caption, without a message to a hung owner
    std::printf("%llu %lu %d %lx %s %s\n", HandleValue(window), pid, IsWindowVisible(window) ? 1 : 0,
                static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_EXSTYLE)),
                Hex(ClassOf(window)).c_str(), Hex(title).c_str());
    return TRUE;
}

BOOL CALLBACK PrintChild(HWND window, LPARAM) {
    std::wstring text;
    TextOf(window, text);
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%llu %d %d %s %s %ld %ld %ld %ld\n", HandleValue(window), GetDlgCtrlID(window),
                IsWindowVisible(window) ? 1 : 0, Hex(ClassOf(window)).c_str(), Hex(text).c_str(), r.left,
                r.top, r.right, r.bottom);
    return TRUE;
}

bool OpenClipboardBounded() {
    for (int attempt = 0; attempt < 100; ++attempt) {  // the owner or a reader may hold it for a moment
        if (OpenClipboard(nullptr)) {
            return true;
        }
        Sleep(20);
    }
    std::fprintf(stderr, "wintool: the clipboard stayed busy\n");
    return false;
}

int GetClip() {
    if (!OpenClipboardBounded()) {
        return 2;
    }
    std::wstring text;
    bool has = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text.assign(p, wcsnlen(p, GlobalSize(data) / sizeof(wchar_t)));
            has = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    std::printf("%s\n", has && !text.empty() ? Hex(text).c_str() : (has ? "" : "-"));
    return 0;
}

int SetClip(const std::wstring* text) {
    if (!OpenClipboardBounded()) {
        return 2;
    }
    EmptyClipboard();
    int status = 0;
    if (text != nullptr) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text->size() + 1) * sizeof(wchar_t));
        auto* p = memory != nullptr ? static_cast<wchar_t*>(GlobalLock(memory)) : nullptr;
        if (p == nullptr) {
            status = 2;
        } else {
            std::wmemcpy(p, text->c_str(), text->size() + 1);
            GlobalUnlock(memory);
            if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
                GlobalFree(memory);
                status = 2;
            }
        }
    }
    CloseClipboard();
    return status;
}

// A hung clipboard owner: announces CF_UNICODETEXT without data and then stops answering messages, so
// that whoever asks for the text waits on a window that never renders it.
int HungClip(DWORD seconds) {
    HWND owner =
        CreateWindowExW(0, L"STATIC", L"hung owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (owner == nullptr) {
        return 2;
    }
    for (int attempt = 0; !OpenClipboard(owner); ++attempt) {
        if (attempt == 100) {
            return 2;
        }
        Sleep(20);
    }
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, nullptr);
    CloseClipboard();
    std::printf("hung\n");
    std::fflush(stdout);
    Sleep(seconds * 1000);
    return 0;
}

struct KeyName {
    const wchar_t* name;
    WORD vk;
    bool extended;
};
constexpr KeyName kKeys[] = {
    {L"shift", VK_SHIFT, false},   {L"ctrl", VK_CONTROL, false},  {L"alt", VK_MENU, false},
    {L"insert", VK_INSERT, true},  {L"delete", VK_DELETE, true},  {L"home", VK_HOME, true},
    {L"end", VK_END, true},        {L"pgup", VK_PRIOR, true},     {L"pgdn", VK_NEXT, true},
    {L"left", VK_LEFT, true},      {L"right", VK_RIGHT, true},    {L"up", VK_UP, true},
    {L"down", VK_DOWN, true},      {L"return", VK_RETURN, false}, {L"tab", VK_TAB, false},
    {L"escape", VK_ESCAPE, false}, {L"space", VK_SPACE, false},   {L"back", VK_BACK, false},
    {L"apps", VK_APPS, true},      {L"f4", VK_F4, false},         {L"f10", VK_F10, false},
};

INPUT Key(WORD vk, bool extended, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    return in;
}

bool ParseKey(const std::wstring& name, INPUT& down) {
    for (const auto& k : kKeys) {
        if (name == k.name) {
            down = Key(k.vk, k.extended, false);
            return true;
        }
    }
    if (name.size() == 1 && (std::iswalnum(name[0]) != 0)) {
        down = Key(static_cast<WORD>(std::towupper(name[0])), false, false);
        return true;
    }
    return false;
}

bool Send(std::vector<INPUT>& inputs) {
    if (inputs.empty()) {
        return true;
    }
    UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    return sent == inputs.size();
}

int Keys(int count, wchar_t** specs) {
    std::vector<INPUT> inputs;
    for (int i = 0; i < count; ++i) {
        std::vector<INPUT> downs;
        std::wstring spec = specs[i];
        size_t start = 0;
        while (true) {
            size_t plus = spec.find(L'+', start);
            std::wstring part =
                spec.substr(start, plus == std::wstring::npos ? std::wstring::npos : plus - start);
            INPUT down{};
            if (!ParseKey(part, down)) {
                std::fprintf(stderr, "wintool: unknown key %ls\n", part.c_str());
                return 2;
            }
            downs.push_back(down);
            if (plus == std::wstring::npos) {
                break;
            }
            start = plus + 1;
        }
        for (const INPUT& d : downs) {
            inputs.push_back(d);
        }
        for (auto it = downs.rbegin(); it != downs.rend(); ++it) {
            INPUT up = *it;
            up.ki.dwFlags |= KEYEVENTF_KEYUP;
            inputs.push_back(up);
        }
    }
    return Send(inputs) ? 0 : 2;
}

int Type(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t unit : text) {
        if (unit == L'\r' || unit == L'\t') {
            WORD vk = unit == L'\r' ? VK_RETURN : VK_TAB;
            inputs.push_back(Key(vk, false, false));
            inputs.push_back(Key(vk, false, true));
            continue;
        }
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = unit;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
        inputs.push_back(in);
        in.ki.dwFlags |= KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    return Send(inputs) ? 0 : 2;
}

int Mouse(HWND window, const wchar_t* how, int argc, wchar_t** argv) {
    RECT r{};
    if (!GetWindowRect(window, &r)) {
        return 2;
    }
    int x = (r.left + r.right) / 2;
    int y = (r.top + r.bottom) / 2;
    if (argc >= 2) {
        x = r.left + std::wcstol(argv[0], nullptr, 10);
        y = r.top + std::wcstol(argv[1], nullptr, 10);
    }
    if (!SetCursorPos(x, y)) {
        return 2;
    }
    // The pointer must stay over the window for a while before the press: Wine moves the X pointer
    // asynchronously, and a motion event of the old position arriving late puts the cursor back there,
    // where the press would then land (the box clicked just before, not the button).
    auto overWindow = [window] {
        POINT at{};
        HWND under = GetCursorPos(&at) ? WindowFromPoint(at) : nullptr;
        return under == window || IsChild(window, under);
    };
    for (int steady = 0, tries = 0; steady < 3 && tries < 100; ++tries) {
        Sleep(10);
        if (overWindow()) {
            ++steady;
        } else {
            steady = 0;
            SetCursorPos(x, y);
        }
    }
    bool right = std::wcscmp(how, L"right") == 0;
    int clicks = std::wcscmp(how, L"double") == 0 ? 2 : 1;
    // The presses carry the position too, in the same batch: under load the move made by SetCursorPos
    // can reach the window under the pointer after a press sent on its own.
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1, 1);
    const int height = std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1, 1);
    std::vector<INPUT> inputs;
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(x - left, 65535, width);
    move.mi.dy = MulDiv(y - top, 65535, height);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    inputs.push_back(move);
    for (int i = 0; i < clicks; ++i) {
        for (DWORD flag : {right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN,
                           right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP}) {
            INPUT in{};
            in.type = INPUT_MOUSE;
            in.mi.dwFlags = flag;
            inputs.push_back(in);
        }
    }
    return Send(inputs) ? 0 : 2;
}

// Clicks the window as "mouse" does, then reads the text box every millisecond until it holds text:
// prints the milliseconds from the click to that text, or fails after timeoutMs.
int ClickUntilText(HWND window, HWND box, const std::wstring& text, double timeoutMs) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (int status = Mouse(window, L"left", 0, nullptr); status != 0) {
        return status;
    }
    for (;;) {
        std::wstring current;
        const bool read = TextOf(box, current);
        QueryPerformanceCounter(&now);
        const double elapsed = static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
                               static_cast<double>(frequency.QuadPart);
        if (read && current == text) {
            std::printf("%.1f\n", elapsed);
            return 0;
        }
        if (elapsed > timeoutMs) {
            std::fprintf(stderr, "wintool: the text box did not hold the text within %.0f ms\n", timeoutMs);
            return 1;
        }
        Sleep(1);
    }
}

int Activate(HWND window) {
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (GetForegroundWindow() != window) {
            SetForegroundWindow(window);
        }
        Sleep(60);  // the foreground can fall back to the desktop a few ms later: check it held
        if (GetForegroundWindow() == window) {
            return 0;
        }
    }
    std::fprintf(stderr, "wintool: window %llu did not stay in the foreground\n", HandleValue(window));
    return 1;
}

int Memory(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr) {
        return 2;
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    BOOL ok = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                   sizeof(counters));
    CloseHandle(process);
    if (!ok) {
        return 2;
    }
    std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(counters.WorkingSetSize),
                static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                static_cast<unsigned long long>(counters.PrivateUsage));
    return 0;
}

int PrintAccessibleRole(HWND window) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    long role = -1;
    std::wstring name;
    IAccessible* client = nullptr;
    if (SUCCEEDED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&client)))) {
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        VARIANT answer{};
        if (client->get_accRole(self, &answer) == S_OK && answer.vt == VT_I4) {
            role = answer.lVal;
        }
        BSTR text = nullptr;
        if (client->get_accName(self, &text) == S_OK && text != nullptr) {
            name = text;
            SysFreeString(text);
        }
        client->Release();
    }
    std::printf("%ld %s\n", role, Hex(name).c_str());
    CoUninitialize();
    return 0;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "wintool: no command\n");
        return 2;
    }
    std::wstring command = argv[1];
    HWND window = argc > 2 ? ParseHandle(argv[2]) : nullptr;
    auto need = [&](int count) {
        if (argc < count) {
            std::fprintf(stderr, "wintool: %ls needs %d arguments\n", argv[1], count - 2);
            return false;
        }
        return true;
    };
    if (command == L"windows") {
        return EnumWindows(PrintTopLevel, 0) ? 0 : 2;
    }
    if (command == L"foreground") {
        std::printf("%llu\n", HandleValue(GetForegroundWindow()));
        return 0;
    }
    if (command == L"getclip") {
        return GetClip();
    }
    if (command == L"clearclip") {
        return SetClip(nullptr);
    }
    if (command == L"clipseq") {
        std::printf("%lu\n", GetClipboardSequenceNumber());
        return 0;
    }
    if (command == L"setclip" || command == L"type") {
        std::wstring text;
        if (!need(3) || !UnhexArgument(argv[2], text)) {
            return 2;
        }
        return command == L"type" ? Type(text) : SetClip(&text);
    }
    if (command == L"hungclip") {
        return need(3) ? HungClip(std::wcstoul(argv[2], nullptr, 10)) : 2;
    }
    if (command == L"keys") {
        return Keys(argc - 2, argv + 2);
    }
    if (!need(3)) {
        return 2;
    }
    if (!IsWindow(window)) {
        std::fprintf(stderr, "wintool: %llu is no window\n", HandleValue(window));
        return 3;
    }
    if (command == L"children") {
        EnumChildWindows(window, PrintChild, 0);
        return 0;
    }
    if (command == L"focus") {
        // The control that holds the keyboard focus in the thread that owns the window: keys sent now
        // go to it.
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
            return 2;
        }
        std::printf("%llu\n", HandleValue(info.hwndFocus));
        return 0;
    }
    if (command == L"text") {
        std::wstring text;
        if (!TextOf(window, text)) {
            return 2;
        }
        std::printf("%s\n", Hex(text).c_str());
        return 0;
    }
    if (command == L"settext") {
        std::wstring text;
        DWORD_PTR result = 0;
        if (!need(4) || !Unhex(argv[3], text)) {
            return 2;
        }
        return SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                   SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) != 0
                   ? 0
                   : 2;
    }
    if (command == L"sel" || command == L"getsel") {
        DWORD_PTR result = 0;
        bool set = command == L"sel";
        if (set && !need(5)) {
            return 2;
        }
        WPARAM start = set ? std::wcstoul(argv[3], nullptr, 10) : 0;
        LPARAM end = set ? std::wcstol(argv[4], nullptr, 10) : 0;
        if (SendMessageTimeoutW(window, set ? EM_SETSEL : EM_GETSEL, start, end, SMTO_ABORTIFHUNG,
                                kMessageTimeoutMs, &result) == 0) {
            return 2;
        }
        if (!set) {
            std::printf("%lu %lu\n", static_cast<unsigned long>(LOWORD(result)),
                        static_cast<unsigned long>(HIWORD(result)));
        }
        return 0;
    }
    if (command == L"activate") {
        return Activate(window);
    }
    if (command == L"close") {
        return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 2;
    }
    if (command == L"click") {
        return PostMessageW(window, BM_CLICK, 0, 0) ? 0 : 2;
    }
    if (command == L"post" || command == L"send") {
        if (!need(6)) {
            return 2;
        }
        UINT message = std::wcstoul(argv[3], nullptr, 0);
        WPARAM wparam = std::wcstoull(argv[4], nullptr, 0);
        LPARAM lparam = std::wcstoll(argv[5], nullptr, 0);
        if (command == L"post") {
            return PostMessageW(window, message, wparam, lparam) ? 0 : 2;
        }
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                                &result) == 0) {
            return 2;
        }
        std::printf("%lld\n", static_cast<long long>(result));
        return 0;
    }
    if (command == L"clickuntil") {
        std::wstring text;
        if (!need(5) || !UnhexArgument(argv[4], text)) {
            return 2;
        }
        return ClickUntilText(window, ParseHandle(argv[3]), text,
                              argc > 5 ? std::wcstod(argv[5], nullptr) : 10000.0);
    }
    if (command == L"mouse") {
        return need(4) ? Mouse(window, argv[3], argc - 4, argv + 4) : 2;
    }
    if (command == L"rect") {
        RECT r{};
        RECT c{};
        GetWindowRect(window, &r);
        GetClientRect(window, &c);
        std::printf("%ld %ld %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom, c.right, c.bottom);
        return 0;
    }
    if (command == L"workarea") {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) {
            return 2;
        }
        const RECT& w = info.rcWork;
        const RECT& m = info.rcMonitor;
        std::printf("%ld %ld %ld %ld %ld %ld %ld %ld\n", w.left, w.top, w.right, w.bottom, m.left, m.top,
                    m.right, m.bottom);
        return 0;
    }
    if (command == L"prop") {
        if (!need(4)) {
            return 2;
        }
        std::printf("%llu\n",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetPropW(window, argv[3]))));
        return 0;
    }
    if (command == L"role") {
        return PrintAccessibleRole(window);
    }
    if (command == L"mem") {
        return Memory(window);
    }
    std::fprintf(stderr, "wintool: unknown command %ls\n", argv[1]);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int status = Run(argc, argv);
    std::fflush(stdout);
    return status;
}
