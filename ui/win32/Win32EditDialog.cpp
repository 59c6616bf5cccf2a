#include "ui/win32/Win32EditDialog.h"

#include <algorithm>

#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32Windows.h"
#include "ui/layout/EditLayout.h"
#include "ui/layout/TextPart.h"
#include "ui/win32/ControlIds.h"
#include "ui/win32/Win32AccessibleRole.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32Ui.h"

namespace varnel {

namespace {

using namespace win32ui;
using namespace edit_layout;
namespace ids = win32_ids;

constexpr wchar_t DialogClass[] = L"VarnelEditDialog";
// A sizable frame with the minimize and maximize boxes and no icon.
constexpr DWORD Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

}  // namespace

Win32EditDialog::Win32EditDialog(std::function<void(Event)> onEvent) : onEvent_(std::move(onEvent)) {
    RegisterWindowClass(DialogClass, ObjectWindowProc<Win32EditDialog>);
    // Client size only: where the dialog goes is left to the system.
    POINT cursor{};
    GetCursorPos(&cursor);
    dpi_ = DpiAt(cursor);
    const RECT outer =
        OuterFromClient(RECT{0, 0, Px(ClientWidth, dpi_), Px(ClientHeight, dpi_)}, Style, ExStyle, dpi_);
    window_ = CreateWindowExW(ExStyle, DialogClass, L"テキストの編集", Style, CW_USEDEFAULT, CW_USEDEFAULT,
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) {
        return;
    }
    // Lines run on under the horizontal scroll bar instead of wrapping.
    textBox_ = CreateControl(window_, L"EDIT", L"",
                             WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_WANTRETURN |
                                 ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL,
                             ids::EditText, WS_EX_CLIENTEDGE);
    SendMessageW(textBox_, EM_SETLIMITTEXT, 0, 0);
    SetWindowLongPtrW(textBox_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(textBox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(textProc)));
    // Neither button answers Enter or Escape.
    okButton_ = CreateControl(window_, L"BUTTON", L"Ｏ Ｋ", WS_TABSTOP | BS_PUSHBUTTON, ids::EditOk);
    cancelButton_ =
        CreateControl(window_, L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON, ids::EditCancel);
    applyDpi(DpiOf(window_));
    Win32EventPump::addDialog(window_);
    SetFocus(textBox_);
}

Win32EditDialog::~Win32EditDialog() {
    if (window_ != nullptr) {
        Win32EventPump::removeDialog(window_);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    DeleteObject(textFont_);
    DeleteObject(buttonFont_);
}

void Win32EditDialog::applyDpi(int dpi) {
    dpi_ = dpi;
    DeleteObject(textFont_);
    DeleteObject(buttonFont_);
    textFont_ = MakeGothicFont(FontPitch::Fixed, 9.75, dpi_);
    buttonFont_ = MakeGothicFont(FontPitch::Proportional, 9, dpi_);
    SendMessageW(textBox_, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_), TRUE);
    SendMessageW(okButton_, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), TRUE);
    SendMessageW(cancelButton_, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), TRUE);
    // The controls keep these places when the window is resized.
    auto px = [this](int twips) { return Px(twips, dpi_); };
    MoveWindow(textBox_, px(TextLeft), px(TextTop), px(TextWidth), px(TextHeight), TRUE);
    MoveWindow(okButton_, px(OkLeft), px(ButtonTop), px(ButtonWidth), px(ButtonHeight), TRUE);
    MoveWindow(cancelButton_, px(CancelLeft), px(ButtonTop), px(ButtonWidth), px(ButtonHeight), TRUE);
}

std::u16string Win32EditDialog::shownText() const {
    return ShownText(editProc_, textBox_);
}

std::u16string Win32EditDialog::text() const {
    return edited_ ? shownText() : exact_.str();
}

SharedText Win32EditDialog::sharedText() const {
    return edited_ ? SharedText(shownText()) : exact_;
}

void Win32EditDialog::setText(SharedText text) {
    exact_ = std::move(text);
    const std::u16string_view part = PartShown(exact_.str(), EditDisplayLimit, EditDisplayLines);
    showsPart_ = part.size() < exact_.size();
    std::u16string shown = WithCrLf(part);
    if (showsPart_) {
        shown += u"…";
    }
    setting_ = true;
    SendMessageW(textBox_, EM_SETREADONLY, showsPart_, 0);
    CallWindowProcW(editProc_, textBox_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(shown)));
    setting_ = false;
    edited_ = false;
}

LRESULT CALLBACK Win32EditDialog::textProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32EditDialog*>(GetWindowLongPtrW(box, GWLP_USERDATA));
    if (self == nullptr || self->editProc_ == nullptr) {
        return DefWindowProcW(box, message, wParam, lParam);
    }
    switch (message) {
        case WM_GETTEXTLENGTH:
            // The whole text, line ends as held, for whoever asks (tools, tests).
            return static_cast<LRESULT>(self->sharedText().size());
        case WM_GETTEXT: {
            if (wParam == 0 || lParam == 0) {
                return 0;
            }
            const SharedText shared = self->sharedText();  // the very string while unedited
            const std::u16string& text = shared.str();
            const std::size_t count = std::min<std::size_t>(text.size(), wParam - 1);
            auto* out = reinterpret_cast<wchar_t*>(lParam);
            std::copy_n(reinterpret_cast<const wchar_t*>(text.data()), count, out);
            out[count] = L'\0';
            return static_cast<LRESULT>(count);
        }
        case WM_SETTEXT:
            // From outside (tools, tests): the box takes the text exactly.
            self->setText(SharedText(lParam != 0 ? FromWide(reinterpret_cast<const wchar_t*>(lParam))
                                                 : std::u16string{}));
            return TRUE;
        case WM_GETDLGCODE:
            return TabLeavesEdit(CallWindowProcW(self->editProc_, box, message, wParam, lParam), lParam);
        default:
            return CallWindowProcW(self->editProc_, box, message, wParam, lParam);
    }
}

LRESULT Win32EditDialog::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == ids::EditText && HIWORD(wParam) == EN_CHANGE && !setting_) {
                edited_ = true;
            } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == ids::EditOk) {
                onEvent_(Event::Ok);
            } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == ids::EditCancel) {
                onEvent_(Event::Cancel);
            }
            return 0;
        case WM_CLOSE:
            // The host closes the dialog through the close handler and then destroys it.
            onEvent_(Event::CloseRequested);
            return 0;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            applyDpi(HIWORD(wParam));
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_GETOBJECT:
            if (const auto object = ClientObjectWithRole(window, wParam, lParam, WindowRole::Dialog)) {
                return *object;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

Win32EditDialogHost::Win32EditDialogHost(AppContext& ctx) : EditDialogHostBase(ctx) {}

Win32EditDialogHost::~Win32EditDialogHost() = default;

void Win32EditDialogHost::load() {
    dialog_ = std::make_unique<Win32EditDialog>([this](Win32EditDialog::Event event) {
        switch (event) {
            case Win32EditDialog::Event::Ok:
                handlers_.StoreEditedSlot();
                break;
            case Win32EditDialog::Event::Cancel:
                handlers_.CancelEdit();
                break;
            case Win32EditDialog::Event::CloseRequested:
                handlers_.close();
                break;
        }
    });
}

void Win32EditDialogHost::show() {
    if (dialog_) {
        ShowWindow(dialog_->window(), SW_SHOW);
    }
}

void Win32EditDialogHost::activate() {
    if (!dialog_) {
        return;
    }
    if (IsIconic(dialog_->window())) {
        ShowWindow(dialog_->window(), SW_RESTORE);
    }
    BringWindowToTop(dialog_->window());
    SetForegroundWindow(dialog_->window());
}

WindowHandle Win32EditDialogHost::nativeHandle() {
    return dialog_ ? FromHwnd(dialog_->window()) : 0;
}

void Win32EditDialogHost::setCaption(const std::u16string& caption) {
    if (dialog_) {
        SetWindowTextW(dialog_->window(), win32ui::Wide(caption));
    }
}

void Win32EditDialogHost::destroy() {
    if (!dialog_) {
        return;
    }
    // A close may come from inside one of the dialog's own handlers (a button's click, the close
    // box): the window is hidden now and destroyed once the main window's queue gets to it. It
    // counts as closed from now on.
    ShowWindow(dialog_->window(), SW_HIDE);
    Win32EventPump::removeDialog(dialog_->window());
    closed_.push_back(std::move(dialog_));
    PostMessageW(ToHwnd(ctx_.mainWindow.nativeHandle()), Win32MainWindow::ReapClosedDialogs, 0, 0);
}

}  // namespace varnel
