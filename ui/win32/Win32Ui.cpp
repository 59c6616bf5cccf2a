#include "ui/win32/Win32Ui.h"

#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace varnel::win32ui {

namespace {

template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) {
        handle = LoadLibraryW(module);
    }
    if (handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : 96;
}

int MonitorDpi(HMONITOR monitor) {
    // shcore's GetDpiForMonitor: MDT_EFFECTIVE_DPI (0).
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpi = SystemFunction<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0, y = 0;
    if (getDpi != nullptr && monitor != nullptr && SUCCEEDED(getDpi(monitor, 0, &x, &y)) && x > 0) {
        return static_cast<int>(x);
    }
    return ScreenDpi();
}

}  // namespace

void EnablePerMonitorDpi() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (const auto setContext =
            SystemFunction<SetContextFn>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
        // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then PER_MONITOR_AWARE.
        if (setContext(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-4))) ||
            setContext(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-3)))) {
            return;
        }
    }
    using SetAwarenessFn = HRESULT(WINAPI*)(int);
    if (const auto setAwareness = SystemFunction<SetAwarenessFn>(L"shcore.dll", "SetProcessDpiAwareness")) {
        if (SUCCEEDED(setAwareness(2))) {  // PROCESS_PER_MONITOR_DPI_AWARE
            return;
        }
    }
    SetProcessDPIAware();
}

int DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpi != nullptr && window != nullptr) {
        if (const UINT dpi = getDpi(window); dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    return window != nullptr ? MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)) : ScreenDpi();
}

int DpiAt(POINT point) {
    return MonitorDpi(MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST));
}

int Px(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

double Twips(double pixels, int dpi) {
    return pixels * 1440.0 / dpi;
}

RECT OuterFromClient(RECT client, DWORD style, DWORD exStyle, int dpi) {
    using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = SystemFunction<AdjustFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT outer = client;
    if (adjust == nullptr || !adjust(&outer, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        outer = client;
        AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    }
    return outer;
}

static RECT WorkArea(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
        return info.rcWork;
    }
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

RECT WorkAreaAt(POINT point) {
    return WorkArea(MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST));
}

bool FontInstalled(const wchar_t* family) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, family, LF_FACESIZE - 1);
    bool found = false;
    EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

HFONT MakeGothicFont(FontPitch pitch, double points, int dpi) {
    static const std::vector<const wchar_t*> fixed{L"ＭＳ ゴシック", L"MS Gothic", L"IPAGothic",
                                                   L"MS UI Gothic", L"Meiryo UI"};
    static const std::vector<const wchar_t*> proportional{L"ＭＳ Ｐゴシック", L"MS PGothic", L"MS UI Gothic",
                                                          L"Meiryo UI",       L"IPAPGothic", L"IPAGothic"};
    // Looked up once per face: the answer does not change while the program runs.
    static std::map<const wchar_t*, bool> installed;
    const wchar_t* face = nullptr;
    const auto& faces = pitch == FontPitch::Fixed ? fixed : proportional;
    for (const wchar_t* candidate : faces) {
        auto known = installed.find(candidate);
        if (known == installed.end()) {
            known = installed.emplace(candidate, FontInstalled(candidate)).first;
        }
        if (known->second) {
            face = candidate;
            break;
        }
    }
    if (face == nullptr) {
        face = faces[0];  // the system's font substitution decides
    }
    const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       (pitch == FontPitch::Fixed ? FIXED_PITCH : VARIABLE_PITCH) | FF_MODERN, face);
}

namespace {

struct Xpm {
    int width = 0;
    int height = 0;
    // Per pixel: 0xRRGGBB, or -1 for None.
    std::vector<std::int32_t> pixels;
};

Xpm ParseXpm(const char* const* xpm) {
    Xpm image;
    int colours = 0, perPixel = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &image.width, &image.height, &colours, &perPixel) != 4 ||
        image.width <= 0 || image.height <= 0 || perPixel <= 0 || perPixel > 2) {
        return Xpm{};
    }
    std::map<std::string, std::int32_t> table;
    for (int i = 1; i <= colours; ++i) {
        const std::string line = xpm[i];
        const std::string key = line.substr(0, static_cast<std::size_t>(perPixel));
        const std::size_t hash = line.find('#', static_cast<std::size_t>(perPixel));
        table[key] = hash == std::string::npos
                         ? -1
                         : static_cast<std::int32_t>(std::strtoul(line.c_str() + hash + 1, nullptr, 16));
    }
    image.pixels.resize(static_cast<std::size_t>(image.width * image.height), -1);
    for (int y = 0; y < image.height; ++y) {
        const char* row = xpm[1 + colours + y];
        for (int x = 0; x < image.width; ++x) {
            const auto found =
                table.find(std::string(row + x * perPixel, static_cast<std::size_t>(perPixel)));
            image.pixels[static_cast<std::size_t>(y * image.width + x)] =
                found != table.end() ? found->second : -1;
        }
    }
    return image;
}

// A top-down 32-bit DIB section of size x size, nearest-neighbour scaled; `pixel` maps 0xRRGGBB or -1
// to the 0xAARRGGBB stored.
template <typename Pixel>
HBITMAP MakeBitmap(const Xpm& image, int size, Pixel pixel) {
    if (image.width == 0 || size <= 0) {
        return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        return bitmap;
    }
    auto* out = static_cast<std::uint32_t*>(bits);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int sx = x * image.width / size;
            const int sy = y * image.height / size;
            out[y * size + x] = pixel(image.pixels[static_cast<std::size_t>(sy * image.width + sx)]);
        }
    }
    return bitmap;
}

}  // namespace

HBITMAP BitmapFromXpm(const char* const* xpm, int size) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const std::uint32_t faceRgb = (static_cast<std::uint32_t>(GetRValue(face)) << 16) |
                                  (static_cast<std::uint32_t>(GetGValue(face)) << 8) | GetBValue(face);
    return MakeBitmap(ParseXpm(xpm), size, [faceRgb](std::int32_t rgb) {
        return rgb < 0 ? faceRgb : static_cast<std::uint32_t>(rgb);
    });
}

HICON IconFromXpm(const char* const* xpm, int size) {
    const Xpm image = ParseXpm(xpm);
    HBITMAP colour = MakeBitmap(image, size, [](std::int32_t rgb) {
        return rgb < 0 || rgb == 0xC0C0C0 ? 0u : 0xFF000000u | static_cast<std::uint32_t>(rgb);
    });
    if (colour == nullptr) {
        return nullptr;
    }
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    if (mask != nullptr) {
        DeleteObject(mask);
    }
    return icon;
}

std::u16string WindowText(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got < 0 ? 0 : got));
    return FromWide(text);
}

std::u16string ShownText(WNDPROC original, HWND box) {
    const LRESULT length = CallWindowProcW(original, box, WM_GETTEXTLENGTH, 0, 0);
    std::wstring shown(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const LRESULT got =
        CallWindowProcW(original, box, WM_GETTEXT, shown.size(), reinterpret_cast<LPARAM>(shown.data()));
    shown.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
    return FromWide(shown);
}

std::u16string WithCrLf(std::u16string_view text) {
    std::u16string shown;
    shown.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            shown += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else if (c == u'\n') {
            shown += u"\r\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

HWND CreateTooltips() {
    // Without an owner: under Wine a window that owns a topmost popup is placed after it and does not
    // become topmost itself.
    HWND tips = CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tips != nullptr) {
        SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 600);
    }
    return tips;
}

void AddTooltip(HWND tooltips, HWND owner, HWND control, const wchar_t* text) {
    if (tooltips == nullptr) {
        return;
    }
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void SetFontOnChildren(HWND parent, HFONT font) {
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM font) -> BOOL {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(font));
}

}  // namespace varnel::win32ui

namespace varnel::win32ui {

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, UINT style) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW known{};
    known.cbSize = sizeof(known);
    if (GetClassInfoExW(instance, name, &known)) {
        return;
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

HWND CreateControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                   DWORD exStyle) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                           nullptr);
}

LRESULT TabLeavesEdit(LRESULT code, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (message != nullptr && message->message == WM_KEYDOWN && message->wParam == VK_TAB) {
        return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
    }
    return code;
}

}  // namespace varnel::win32ui
