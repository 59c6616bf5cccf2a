#include "ui/win32/Win32SettingsDialog.h"

#include <algorithm>

#include "core/Geometry.h"
#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32Windows.h"
#include "ui/layout/SettingsLayout.h"
#include "ui/win32/ControlIds.h"
#include "ui/win32/Win32AccessibleRole.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32Ui.h"

namespace varnel {

namespace {

using namespace win32ui;
namespace L = settings_layout;
namespace ids = win32_ids;

constexpr wchar_t DialogClass[] = L"VarnelSettingsDialog";
// A fixed dialog frame with the close box only.
constexpr DWORD Style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

struct Placement {
    int id;
    const L::Box* frame;  // the frame the box is relative to; null for the dialog
    L::Box box;
};

// Every control, in the order it is created: the order the controls are read in, frame by frame
// from the top, the closing buttons last; frames and labels take no focus.
const Placement Placements[] = {
    {ids::VersionFrame, nullptr, L::VersionFrame},
    {ids::VersionLabel, &L::VersionFrame, L::VersionLabel},
    {ids::SendModeFrame, nullptr, L::SendModeFrame},
    {ids::SendModeOption + 0, &L::SendModeFrame, L::SendModeOptions[0]},
    {ids::SendModeOption + 1, &L::SendModeFrame, L::SendModeOptions[1]},
    {ids::ImeLabel, &L::SendModeFrame, L::ImeLabel},
    {ids::CaptureFrame, nullptr, L::CaptureFrame},
    {ids::CaptureCheck, &L::CaptureFrame, L::CaptureCheck},
    {ids::RotationCombo, &L::CaptureFrame, L::RotationCombo},
    {ids::RotationLabel, &L::CaptureFrame, L::RotationLabel},
    {ids::DisplayFrame, nullptr, L::DisplayFrame},
    {ids::DisplayOption + 0, &L::DisplayFrame, L::DisplaySizeOptions[0]},
    {ids::DisplayOption + 1, &L::DisplayFrame, L::DisplaySizeOptions[1]},
    {ids::DisplayOption + 2, &L::DisplayFrame, L::DisplaySizeOptions[2]},
    {ids::ClearFrame, nullptr, L::ClearFrame},
    {ids::ClearAllButton, &L::ClearFrame, L::ClearAllButton},
    {ids::SettingsOk, nullptr, L::OkButton},
    {ids::SettingsCancel, nullptr, L::CancelButton},
};

HWND OwnerOf(AppContext& ctx) {
    return ToHwnd(ctx.mainWindow.nativeHandle());
}

}  // namespace

Win32SettingsDialog::Win32SettingsDialog(AppContext& ctx, HWND owner, std::function<void()> onClosed)
    : handlers_(ctx, *this), onClosed_(std::move(onClosed)) {
    RegisterWindowClass(DialogClass, ObjectWindowProc<Win32SettingsDialog>);
    const POINT corner{Px(L::ClientLeft, 96), Px(L::ClientTop, 96)};
    dpi_ = DpiAt(corner);
    window_ = CreateWindowExW(ExStyle, DialogClass, L"Varnelの詳細設定", Style, 0, 0, 0, 0, owner, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) {
        return;
    }
    createControls();
    applyDpi(DpiOf(window_));
    Win32EventPump::addDialog(window_);
    handlers_.FillSettingsDialog();
}

Win32SettingsDialog::~Win32SettingsDialog() {
    if (window_ != nullptr) {
        Win32EventPump::removeDialog(window_);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    DeleteObject(font_);
    DeleteObject(comboFont_);
}

void Win32SettingsDialog::createControls() {
    constexpr DWORD Frame = BS_GROUPBOX;
    constexpr DWORD Label = SS_LEFT | SS_NOPREFIX;
    // Option groups: WS_GROUP on the first option of a group and on the first control after it.
    constexpr DWORD Option = BS_AUTORADIOBUTTON;
    constexpr DWORD Button = BS_PUSHBUTTON | WS_TABSTOP;
    CreateControl(window_, L"BUTTON", L"ﾊﾞｰｼﾞｮﾝ情報", Frame, ids::VersionFrame);
    CreateControl(window_, L"STATIC", L"Varnel Version 1.1", Label, ids::VersionLabel);
    CreateControl(window_, L"BUTTON", L"貼付方法", Frame, ids::SendModeFrame);
    CreateControl(window_, L"BUTTON", L"クリップボードのペースト", Option | WS_GROUP | WS_TABSTOP,
                  ids::SendModeOption + 0);
    CreateControl(window_, L"BUTTON", L"キーストロークの送信", Option, ids::SendModeOption + 1);
    CreateControl(window_, L"STATIC", L"\u3000（貼付先のIMEは必ずオフにしてください！）", Label,
                  ids::ImeLabel);
    CreateControl(window_, L"BUTTON", L"クリップボードの自動取得", Frame, ids::CaptureFrame);
    CreateControl(window_, L"BUTTON", L"実行する", BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP,
                  ids::CaptureCheck);
    // The combo box stands in the gap of the label after it (which does not paint under it): the label
    // draws the text before its run of ideographic spaces at its left and the text after the run just
    // right of the combo box, wherever the font puts them.
    HWND combo = CreateControl(window_, L"COMBOBOX", L"",
                               CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, ids::RotationCombo);
    for (const wchar_t* item : {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10"}) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    CreateControl(window_, L"STATIC",
                  L"割当て：\u30001～\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000まで",
                  SS_OWNERDRAW | WS_CLIPSIBLINGS, ids::RotationLabel);
    CreateControl(window_, L"BUTTON", L"ウィンドウ表示", Frame, ids::DisplayFrame);
    CreateControl(window_, L"BUTTON", L"通常表示（5行）", Option | WS_GROUP | WS_TABSTOP,
                  ids::DisplayOption + 0);
    CreateControl(window_, L"BUTTON", L"ボタン表示のみ", Option, ids::DisplayOption + 1);
    CreateControl(window_, L"BUTTON", L"全体表示（10行）", Option, ids::DisplayOption + 2);
    CreateControl(window_, L"BUTTON", L"内容消去", Frame, ids::ClearFrame);
    CreateControl(window_, L"BUTTON", L"全消去実行", Button | WS_GROUP, ids::ClearAllButton);
    CreateControl(window_, L"BUTTON", L"決定", Button, ids::SettingsOk);
    CreateControl(window_, L"BUTTON", L"キャンセル", Button, ids::SettingsCancel);
    // The frames lie under everything else (they take no focus, so the keyboard order stays), so
    // that the rotation label, which does not paint under the combo box, is not hidden by its frame either.
    for (int frame :
         {ids::VersionFrame, ids::SendModeFrame, ids::CaptureFrame, ids::DisplayFrame, ids::ClearFrame}) {
        SetWindowPos(control(frame), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void Win32SettingsDialog::applyDpi(int dpi) {
    dpi_ = dpi;
    auto px = [this](int twips) { return Px(twips, dpi_); };
    DeleteObject(font_);
    DeleteObject(comboFont_);
    font_ = MakeGothicFont(FontPitch::Proportional, L::DialogPointSize, dpi_);
    comboFont_ = MakeGothicFont(FontPitch::Proportional, L::ComboPointSize, dpi_);
    SetFontOnChildren(window_, font_);
    SendMessageW(control(ids::RotationCombo), WM_SETFONT, reinterpret_cast<WPARAM>(comboFont_), TRUE);
    for (const Placement& p : Placements) {
        const int left = p.box.left + (p.frame != nullptr ? p.frame->left : 0);
        const int top = p.box.top + (p.frame != nullptr ? p.frame->top : 0);
        // A combo box's height includes its drop-down list.
        const int height = p.id == ids::RotationCombo ? px(p.box.height) * 8 : px(p.box.height);
        MoveWindow(control(p.id), px(left), px(top), px(p.box.width), height, TRUE);
    }
    placeRotationLabel();
    // The design position of the client area, moved onto the visible screen where needed.
    const RECT client{px(L::ClientLeft), px(L::ClientTop), px(L::ClientLeft) + px(L::ClientWidth),
                      px(L::ClientTop) + px(L::ClientHeight)};
    const RECT outer = OuterFromClient(client, Style, ExStyle, dpi_);
    const RECT area = WorkAreaAt(POINT{client.left, client.top});
    const PixelRect placed = KeepOnScreen(
        PixelRect{client.left, client.top, client.right - client.left, client.bottom - client.top},
        FrameMargins{client.left - outer.left, client.top - outer.top, outer.right - client.right,
                     outer.bottom - client.bottom},
        PixelRect{area.left, area.top, area.right - area.left, area.bottom - area.top});
    SetWindowPos(window_, nullptr, placed.left - (client.left - outer.left),
                 placed.top - (client.top - outer.top), outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The rotation label's text before and after its run of ideographic spaces.
std::pair<std::wstring, std::wstring> GapParts(const std::u16string& text) {
    const std::wstring whole(text.begin(), text.end());
    const std::size_t run = whole.find(L"\u3000\u3000");
    if (run == std::wstring::npos) {
        return {whole, L""};
    }
    const std::size_t after = whole.find_first_not_of(L'\u3000', run);
    return {whole.substr(0, run), after == std::wstring::npos ? L"" : whole.substr(after)};
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size.cx;
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace

void Win32SettingsDialog::placeRotationLabel() {
    // Where the text before the gap needs more room than the layout leaves before the combo box, the
    // label begins further left, in the free room after the check box.
    HWND label = control(ids::RotationLabel);
    const RECT box = ChildRect(window_, label);
    const RECT combo = ChildRect(window_, control(ids::RotationCombo));
    const RECT check = ChildRect(window_, control(ids::CaptureCheck));
    const auto [head, tail] = GapParts(WindowText(label));
    const int spacing = Px(L::GapSpacingTwips, dpi_);
    const int left = std::max<int>(
        check.right, std::min<int>(box.left, combo.left - spacing - TextWidth(window_, font_, head)));
    const int right = std::max<int>(box.right, combo.right + spacing + TextWidth(window_, font_, tail) + 1);
    MoveWindow(label, left, box.top, right - left, box.bottom - box.top, TRUE);
}

void Win32SettingsDialog::drawRotationLabel(const DRAWITEMSTRUCT& item) {
    const auto [head, tail] = GapParts(WindowText(item.hwndItem));
    const RECT combo = ChildRect(item.hwndItem, control(ids::RotationCombo));
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(item.hDC, font_);
    RECT before = item.rcItem;
    DrawTextW(item.hDC, head.c_str(), static_cast<int>(head.size()), &before,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    RECT after = item.rcItem;
    after.left = combo.right + Px(L::GapSpacingTwips, dpi_);
    DrawTextW(item.hDC, tail.c_str(), static_cast<int>(tail.size()), &after,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item.hDC, old);
}

bool Win32SettingsDialog::optionSelected(int firstId, int count, int index) const {
    return index >= 0 && index < count &&
           SendMessageW(control(firstId + index), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32SettingsDialog::selectOption(int firstId, int count, int index) {
    for (int i = 0; i < count; ++i) {
        SendMessageW(control(firstId + i), BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

bool Win32SettingsDialog::sendModeSelected(SendMethod mode) const {
    return optionSelected(ids::SendModeOption, 2, mode);
}

void Win32SettingsDialog::selectSendMode(SendMethod mode) {
    selectOption(ids::SendModeOption, 2, mode);
}

bool Win32SettingsDialog::displaySizeSelected(DisplaySize size) const {
    return optionSelected(ids::DisplayOption, 3, static_cast<int>(size));
}

void Win32SettingsDialog::selectDisplaySize(DisplaySize size) {
    selectOption(ids::DisplayOption, 3, static_cast<int>(size));
}

bool Win32SettingsDialog::captureChecked() const {
    return SendMessageW(control(ids::CaptureCheck), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32SettingsDialog::setCaptureChecked(bool checked) {
    SendMessageW(control(ids::CaptureCheck), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::u16string Win32SettingsDialog::rotationCountBoxText() const {
    return WindowText(control(ids::RotationCombo));
}

void Win32SettingsDialog::setRotationCountBoxText(const std::u16string& text) {
    SetWindowTextW(control(ids::RotationCombo), Wide(text));
}

void Win32SettingsDialog::close() {
    // OK, Cancel, the close box and the main window's unloading all arrive here; the handling runs
    // once, and the dialog always closes.
    if (closing_) {
        return;
    }
    closing_ = true;
    handlers_.CloseSettingsDialog();
    closed_ = true;
    ShowWindow(window_, SW_HIDE);
    Win32EventPump::removeDialog(window_);
    if (onClosed_) {
        onClosed_();
    }
}

LRESULT Win32SettingsDialog::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK && lParam == 0) {
                // Enter presses the button that has the focus, and only that one; Escape does nothing.
                HWND focus = GetFocus();
                for (int button : {ids::SettingsOk, ids::SettingsCancel, ids::ClearAllButton}) {
                    if (focus == control(button)) {
                        SendMessageW(focus, BM_CLICK, 0, 0);
                    }
                }
                return 0;
            }
            if (HIWORD(wParam) != BN_CLICKED || closing_) {
                return 0;
            }
            if (id == ids::SettingsOk) {
                handlers_.ApplySettings();
            } else if (id == ids::SettingsCancel) {
                handlers_.CancelSettings();
            } else if (id == ids::ClearAllButton) {
                handlers_.ClearAllSlots();
            }
            return 0;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlID == static_cast<UINT>(ids::RotationLabel)) {
                drawRotationLabel(*item);
                return TRUE;
            }
            return FALSE;
        }
        case WM_CLOSE:
            close();
            return 0;
        case WM_DPICHANGED:
            applyDpi(HIWORD(wParam));
            return 0;
        case WM_GETOBJECT:
            if (const auto object = ClientObjectWithRole(window, wParam, lParam, WindowRole::Dialog)) {
                return *object;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

Win32SettingsDialogHost::~Win32SettingsDialogHost() {
    dialog_.reset();
    closed_.clear();
    if (hiddenOwner_ != nullptr) {
        DestroyWindow(hiddenOwner_);
    }
}

void Win32SettingsDialogHost::reap() {
    closed_.clear();
    if (dialog_ && dialog_->isClosed()) {
        dialog_.reset();
    }
}

void Win32SettingsDialogHost::load() {
    if (dialog_) {
        closed_.push_back(std::move(dialog_));  // closed, still on the stack somewhere
    }
    // An owner keeps the dialog out of the taskbar. Not the main window: an owner follows its topmost
    // dialog in the stacking order, and the main window's z-order buttons would move the dialog.
    if (hiddenOwner_ == nullptr) {
        hiddenOwner_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    }
    HWND main = OwnerOf(ctx_);
    dialog_ = std::make_unique<Win32SettingsDialog>(ctx_, hiddenOwner_, [main] {
        // Not while the dialog's own close is still unwinding: once the queue gets to it.
        PostMessageW(main, Win32MainWindow::ReapClosedDialogs, 0, 0);
    });
}

void Win32SettingsDialogHost::show() {
    HWND window = dialog_->window();
    const bool shown = IsWindowVisible(window) != FALSE;
    ShowWindow(window, SW_SHOW);
    if (shown) {
        BringWindowToTop(window);
        SetForegroundWindow(window);
    }
}

WindowHandle Win32SettingsDialogHost::nativeHandle() {
    return FromHwnd(dialog_->window());
}

}  // namespace varnel
