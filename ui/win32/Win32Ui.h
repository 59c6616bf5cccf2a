// What the Windows front end's windows share: resolution, twips, fonts, pictures, texts.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace varnel::win32ui {

// Makes the process per-monitor DPI aware (V2 where the system has it), before any window exists.
void EnablePerMonitorDpi();
// The resolution a window is drawn at (its monitor's), 96 where the system cannot tell.
int DpiOf(HWND window);
// The resolution of the monitor that holds a point, for a window not yet created.
int DpiAt(POINT point);

// Layout twips to the pixels of a resolution (1440 twips per inch) and back.
int Px(double twips, int dpi);
double Twips(double pixels, int dpi);

// A window rectangle for a client rectangle, at a resolution (AdjustWindowRectExForDpi where it exists).
RECT OuterFromClient(RECT client, DWORD style, DWORD exStyle, int dpi);
// The monitor's work area around a point.
RECT WorkAreaAt(POINT point);

// Japanese Gothic faces: ＭＳ ゴシック or ＭＳ Ｐゴシック where installed, else the system's Japanese UI font
// ("MS UI Gothic", "Meiryo UI"), else IPAGothic/IPAPGothic. The caller owns the font.
enum class FontPitch { Fixed, Proportional };
HFONT MakeGothicFont(FontPitch pitch, double points, int dpi);
// Whether a font family is installed (EnumFontFamiliesEx).
bool FontInstalled(const wchar_t* family);

// A picture from an XPM image (the files in resources/), scaled to size x size pixels. Colours the
// image calls None become the button face colour. The caller owns the bitmap.
HBITMAP BitmapFromXpm(const char* const* xpm, int size);
// An icon from an XPM image; the light grey (C0C0C0) background is transparent.
HICON IconFromXpm(const char* const* xpm, int size);

// Text of a window and our UTF-16 strings (wchar_t is 16 bits on Windows).
inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
// The window's text through its own procedure (WM_GETTEXT).
std::u16string WindowText(HWND window);
// The text a subclassed edit control shows, asked of the control's original procedure (the
// subclass may answer WM_GETTEXT with a text of its own).
std::u16string ShownText(WNDPROC original, HWND box);

// Line ends as a multi-line EDIT control shows them: a lone CR or LF becomes CR LF.
std::u16string WithCrLf(std::u16string_view text);

// The tooltip window for a window's controls, and a tooltip for one of them. The caller destroys the
// tooltip window.
HWND CreateTooltips();
void AddTooltip(HWND tooltips, HWND owner, HWND control, const wchar_t* text);

// Sets a font on a window and all its children.
void SetFontOnChildren(HWND parent, HFONT font);

}  // namespace varnel::win32ui

namespace varnel::win32ui {

// Window procedures that keep their object in GWLP_USERDATA: the object is handed over through
// CreateWindowExW's last argument. `Owner` has a member `LRESULT handle(HWND, UINT, WPARAM, LPARAM)`.
template <typename Owner>
LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return owner != nullptr ? owner->handle(window, message, wParam, lParam)
                            : DefWindowProcW(window, message, wParam, lParam);
}

// Registers a window class once (button-face background, arrow cursor).
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, UINT style = 0);

// A child control with an id.
HWND CreateControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                   DWORD exStyle = 0);

// For WM_GETDLGCODE of a multi-line EDIT: Tab moves the focus on instead of being typed.
LRESULT TabLeavesEdit(LRESULT code, LPARAM lParam);

}  // namespace varnel::win32ui
