#include "ui/win32/Win32MainWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "capture/CaptureTick.h"
#include "core/DisplayModes.h"
#include "core/Geometry.h"
#include "core/Startup.h"
#include "delivery/Delivery.h"
#include "editing/SlotMenu.h"
#include "platform/win32/Win32Support.h"
#include "platform/win32/Win32WindowSystem.h"
#include "platform/win32/Win32Windows.h"
#include "ui/layout/MainLayout.h"
#include "ui/layout/TextPart.h"
#include "ui/win32/ControlIds.h"
#include "ui/win32/Win32AccessibleRole.h"
#include "ui/win32/Win32Ui.h"

namespace varnel {

namespace xpm {
#include "resources/copy.xpm"
#include "resources/icon16.xpm"
#include "resources/icon32.xpm"
#include "resources/send.xpm"
#include "resources/settings.xpm"
#include "resources/zorder_back.xpm"
#include "resources/zorder_front.xpm"
}  // namespace xpm

namespace {

using namespace win32ui;
namespace ids = win32_ids;

constexpr wchar_t WindowClass[] = L"VarnelMainWindow";
constexpr wchar_t NoticeClass[] = L"VarnelNotice";
constexpr UINT_PTR TickTimerId = 1;
// Caption bar, sizable frame, minimize, maximize and close boxes, and a taskbar button, as the
// Linux window has.
constexpr DWORD Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD ExStyle = WS_EX_APPWINDOW;
constexpr int PictureTwips = 360;  // the picture on a 375-twip button

WNDPROC g_editProc = nullptr;

struct Conversion {
    const wchar_t* caption;
    int font;  // index into captionFonts_
    const wchar_t* tooltip;
};
constexpr Conversion Conversions[6] = {
    {L"半", 0, L"半角に変換します"},
    {L"全", 0, L"全角に変換します"},
    {L"あ", 0, L"カタカナをひらがなに変換します"},
    {L"ア", 0, L"ひらがなをカタカナに変換します"},
    {L"A", 1, L"大文字に変換します"},
    {L"a", 2, L"小文字に変換します"},
};
constexpr double CaptionPoints[3] = {11.25, 12, 14.25};

}  // namespace

// The slot menu "編集": a popup menu with the twelve items, created on the first right-click and
// released when the main window unloads.
class Win32SlotMenu : public SlotMenu {
  public:
    explicit Win32SlotMenu(HWND owner) : owner_(owner), menu_(CreatePopupMenu()) {
        for (const SlotMenuItem& item : SlotMenuItems) {
            if (item.caption[0] == u'\0') {
                AppendMenuW(menu_, MF_SEPARATOR, static_cast<UINT_PTR>(item.command), nullptr);
            } else {
                AppendMenuW(menu_, MF_STRING, static_cast<UINT_PTR>(item.command),
                            reinterpret_cast<const wchar_t*>(item.caption));
            }
        }
    }
    ~Win32SlotMenu() override {
        if (menu_ != nullptr) {
            DestroyMenu(menu_);
        }
    }
    Win32SlotMenu(const Win32SlotMenu&) = delete;
    Win32SlotMenu& operator=(const Win32SlotMenu&) = delete;

    SlotMenuCommand showMenuAt(ScreenPoint at) override {
        if (menu_ == nullptr) {
            return NoCommand;
        }
        // A popup menu whose owner is not the foreground window neither takes keys nor closes when
        // the user clicks elsewhere; the right-click on our slot gives us the right to come to the
        // front. The system keeps the menu on the screen; 0 when it was dismissed or failed.
        SetForegroundWindow(owner_);
        // The menu opens below the slot; where the screen has no room below, the system puts it
        // above, never over the slot.
        TPMPARAMS clear{sizeof(TPMPARAMS), slot_};
        const bool keepClear = IsRectEmpty(&slot_) == FALSE;
        const int y = keepClear ? std::max<int>(at.y, slot_.bottom) : at.y;
        const BOOL chosen = TrackPopupMenuEx(
            menu_,
            TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN | (keepClear ? TPM_VERTICAL : 0),
            at.x, y, owner_, keepClear ? &clear : nullptr);
        PostMessageW(owner_, WM_NULL, 0, 0);
        slot_ = RECT{};
        return static_cast<SlotMenuCommand>(chosen);
    }
    HMENU menu() const { return menu_; }
    // The slot the next menu belongs to, on the screen.
    void keepClearOf(const RECT& slot) { slot_ = slot; }

  private:
    HWND owner_;
    HMENU menu_;
    RECT slot_{};
};

Win32MainWindow::Win32MainWindow(AppState& state, MainWindowState& members)
    : state_(state), members_(members) {
    using namespace layout;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(WindowClass, windowProc, CS_DBLCLKS);
    RegisterWindowClass(NoticeClass, DefWindowProcW);

    // The layout's outer corner, at the resolution of the monitor it falls on.
    const POINT corner{Px(DesignWindowLeft, 96), Px(DesignWindowTop, 96)};
    dpi_ = DpiAt(corner);
    const RECT client{0, 0, px(ClientWidthFromOuter(DesignWindowWidth)),
                      px(ClientHeightFromOuter(DesignWindowHeight))};
    const RECT outer = OuterFromClient(client, Style, ExStyle, dpi_);
    const RECT area = WorkAreaAt(corner);
    const int top = TopWithinScreen(px(DesignWindowTop), outer.bottom - outer.top, area.top, area.bottom);
    window_ =
        CreateWindowExW(ExStyle, WindowClass, L"Varnel", Style, px(DesignWindowLeft), top,
                        outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        return;
    }
    dpi_ = DpiOf(window_);
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(IconFromXpm(xpm::icon16, 16)));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(IconFromXpm(xpm::icon32, 32)));
    captureBrush_ = CreateSolidBrush(CaptureColour);
    tooltips_ = CreateTooltips();
    createControls();
    applyDpi();
    // The client area as laid out, at the window's own resolution.
    setOuterWidthTwips(DesignWindowWidth);
    setOuterHeightTwips(DesignWindowHeight);

    timer_ = std::make_unique<Win32TickTimer>(window_, TickTimerId, TimerIntervalMs);
    timer_->setEnabled(true);
}

Win32MainWindow::~Win32MainWindow() {
    timer_.reset();
    slotMenu_.reset();
    editDialog_.reset();
    settings_.reset();
    for (HWND own : {notice_, tooltips_}) {
        if (IsWindow(own)) {
            DestroyWindow(own);
        }
    }
    if (IsWindow(window_)) {
        for (const int size : {ICON_SMALL, ICON_BIG}) {
            if (auto icon = reinterpret_cast<HICON>(SendMessageW(window_, WM_GETICON, size, 0))) {
                DestroyIcon(icon);
            }
        }
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    for (HFONT font : captionFonts_) {
        DeleteObject(font);
    }
    DeleteObject(slotFont_);
    for (HBITMAP picture : pictures_) {
        DeleteObject(picture);
    }
    DeleteObject(captureBrush_);
}

int Win32MainWindow::px(double twips) const {
    return Px(twips, dpi_);
}

double Win32MainWindow::twips(double pixels) const {
    return Twips(pixels, dpi_);
}

void Win32MainWindow::createControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // Created in the keyboard order: the top row from left to right, then row by row the copy
    // button, the send button and the slot.
    auto button = [&](int id, const wchar_t* caption, DWORD style, const wchar_t* tooltip) {
        HWND b = CreateWindowExW(
            0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | style, 0, 0, 0, 0,
            window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        AddTooltip(tooltips_, window_, b, tooltip);
        return b;
    };
    button(ids::ZOrderButton + 1, L"常に手前に表示", BS_BITMAP, L"常に手前に表示");
    button(ids::ZOrderButton + 2, L"背面に表示する", BS_BITMAP, L"背面に表示する");
    for (int i = 0; i < 6; ++i) {
        button(ids::ConversionButton + i, Conversions[i].caption, 0, Conversions[i].tooltip);
    }
    button(ids::SettingsButton, L"詳細設定ウィンドウを表示します", BS_BITMAP,
           L"詳細設定ウィンドウを表示します");
    for (int i = 1; i <= 10; ++i) {
        // A picture button's text is not drawn; screen readers read it as the button's name, which
        // says which slot the button is for. The tooltip stays the same for every row.
        const std::wstring slot = L"スロット " + std::to_wstring(i);
        button(ids::CopyButton + i, (slot + L" をコピー").c_str(), BS_BITMAP,
               L"右の内容をｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰします");
        button(ids::SendButton + i, (slot + L" を送る").c_str(), BS_BITMAP,
               L"右の内容を指定したｱﾌﾟﾘに送ります");
        // An edit box is named by the label just before it in the window order; this one takes no
        // room and shows nothing.
        CreateWindowExW(0, L"STATIC", slot.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::SlotLabel + i)), instance, nullptr);
        // Multi-line, Enter starts a new line, no scroll bars (the text scrolls with the caret).
        HWND box = CreateWindowExW(
            WS_EX_CLIENTEDGE, L"EDIT", L"",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_NOHIDESEL,
            0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::Slot + i)), instance,
            nullptr);
        slots_[i].box = box;
        slots_[i].widthTwips = i == 5 ? layout::Slot5Width : layout::SlotWidth;
        if (box != nullptr) {
            SendMessageW(box, EM_SETLIMITTEXT, 0, 0);
            SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            const auto previous = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(slotProc)));
            if (g_editProc == nullptr) {
                g_editProc = previous;
            }
        }
    }
}

void Win32MainWindow::applyDpi() {
    // Fonts and pictures at the window's resolution.
    for (HFONT& font : captionFonts_) {
        DeleteObject(font);
    }
    for (int i = 0; i < 3; ++i) {
        captionFonts_[i] = MakeGothicFont(FontPitch::Proportional, CaptionPoints[i], dpi_);
    }
    DeleteObject(slotFont_);
    slotFont_ = MakeGothicFont(FontPitch::Fixed, 9.75, dpi_);
    for (HBITMAP& picture : pictures_) {
        DeleteObject(picture);
    }
    const int size = px(PictureTwips);
    const char* const* images[5] = {xpm::zorder_front, xpm::zorder_back, xpm::settings, xpm::copy, xpm::send};
    for (int i = 0; i < 5; ++i) {
        pictures_[i] = BitmapFromXpm(images[i], size);
    }
    auto setPicture = [this](int id, HBITMAP picture) {
        SendMessageW(control(id), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    };
    setPicture(ids::ZOrderButton + 1, pictures_[0]);
    setPicture(ids::ZOrderButton + 2, pictures_[1]);
    setPicture(ids::SettingsButton, pictures_[2]);
    for (int i = 1; i <= 10; ++i) {
        setPicture(ids::CopyButton + i, pictures_[3]);
        setPicture(ids::SendButton + i, pictures_[4]);
        SendMessageW(slots_[i].box, WM_SETFONT, reinterpret_cast<WPARAM>(slotFont_), TRUE);
    }
    for (int i = 0; i < 6; ++i) {
        SendMessageW(control(ids::ConversionButton + i), WM_SETFONT,
                     reinterpret_cast<WPARAM>(captionFonts_[Conversions[i].font]), TRUE);
    }
    layoutControls();
}

void Win32MainWindow::layoutControls() {
    using namespace layout;
    auto place = [this](HWND control, int left, int top, double width, int height) {
        MoveWindow(control, px(left), px(top), std::max(0, px(width)), px(height), TRUE);
    };
    place(control(ids::ZOrderButton + 1), ZOrderButtonLeft[1], TopRowTop, ButtonSize, ButtonSize);
    place(control(ids::ZOrderButton + 2), ZOrderButtonLeft[2], TopRowTop, ButtonSize, ButtonSize);
    for (int i = 0; i < 6; ++i) {
        place(control(ids::ConversionButton + i), ConversionButtonLeft + ConversionButtonStep * i, TopRowTop,
              ButtonSize, ButtonSize);
    }
    place(control(ids::SettingsButton), SettingsButtonLeft, TopRowTop, ButtonSize, ButtonSize);
    for (int i = 1; i <= 10; ++i) {
        const int top = SlotRowTop(i);
        place(control(ids::CopyButton + i), CopyButtonLeft, top, ButtonSize, ButtonSize);
        place(control(ids::SendButton + i), SendButtonLeft, top, ButtonSize, ButtonSize);
        place(slots_[i].box, SlotLeft, top, slots_[i].widthTwips, i == 5 ? Slot5Height : SlotHeight);
    }
    showOnlyControlsInView();
    InvalidateRect(window_, nullptr, TRUE);
}

void Win32MainWindow::showOnlyControlsInView() {
    // A lower (or narrower) window clips the controls beyond its edge. Those wholly outside are
    // hidden as well, so that Tab (IsDialogMessage passes over hidden controls), typing and screen
    // readers stay with what the user can see; a hidden slot keeps its text and goes on taking
    // captured text. A control that had the focus hands it to the first one shown.
    const RECT area = clientRect();
    HWND focus = GetFocus();
    bool focusHidden = false;
    for (HWND control = GetWindow(window_, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        RECT r{}, overlap{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        // The slot labels take no room: they go with their slot.
        const int id = GetDlgCtrlID(control);
        if (id > ids::SlotLabel && id <= ids::SlotLabel + 10) {
            GetWindowRect(slots_[id - ids::SlotLabel].box, &r);
            MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        }
        const bool inView = IntersectRect(&overlap, &r, &area) != FALSE;
        focusHidden = focusHidden || (!inView && control == focus);
        ShowWindow(control, inView ? SW_SHOWNA : SW_HIDE);
    }
    if (focusHidden) {
        SetFocus(GetNextDlgTabItem(window_, nullptr, FALSE));
    }
}

void Win32MainWindow::attach(Platform& platform) {
    editDialog_.reset();
    settings_.reset();
    context_.emplace(AppContext{state_, members_, *this, platform});
    editDialog_.emplace(*context_);
    settings_.emplace(*context_);
}

Status Win32MainWindow::load() {
    return LoadMainWindow(*context_);
}

void Win32MainWindow::clipboardChanged() {
    if (context_ && !unloaded_) {
        ClipboardChanged(*context_);
        ShowStateToOtherPrograms(*context_);
    }
}

std::u16string Win32MainWindow::text(std::int16_t index) const {
    return validSlot(index) ? slots_[index].exact.str() : std::u16string{};
}

bool Win32MainWindow::setText(std::int16_t index, const std::u16string& text) {
    return setSharedText(index, SharedText(text));
}

SharedText Win32MainWindow::sharedText(std::int16_t index) const {
    return validSlot(index) ? slots_[index].exact : SharedText{};
}

bool Win32MainWindow::setSharedText(std::int16_t index, const SharedText& text) {
    if (!validSlot(index)) {
        return false;
    }
    Slot& slot = slots_[index];
    slot.exact = text;
    // A long text is shown in part, read-only, so that an edit can never cut it short.
    slot.showsPart = slot.exact.size() > SlotDisplayLimit;
    slot.setting = true;
    SendMessageW(slot.box, EM_SETREADONLY, slot.showsPart, 0);
    std::u16string shown = WithCrLf(PartShown(slot.exact.str(), SlotDisplayLimit));
    if (slot.showsPart) {
        shown += u"…";
    }
    CallWindowProcW(g_editProc, slot.box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(shown)));
    slot.setting = false;
    return true;
}

bool Win32MainWindow::setBackground(std::int16_t index, SlotBackground colour) {
    if (!validSlot(index)) {
        return false;
    }
    slots_[index].capture = colour == SlotBackground::Capture;
    InvalidateRect(slots_[index].box, nullptr, TRUE);
    return true;
}

WindowHandle Win32MainWindow::nativeHandle() {
    return FromHwnd(window_);
}

void Win32MainWindow::setLeft(double twips) {
    RECT outer{};
    GetWindowRect(window_, &outer);
    SetWindowPos(window_, nullptr, px(twips), outer.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::show() {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

RECT Win32MainWindow::clientRect() const {
    RECT client{};
    GetClientRect(window_, &client);
    return client;
}

double Win32MainWindow::outerWidthTwips() const {
    return twips(clientRect().right) + DesignFrameWidthTwips;
}

double Win32MainWindow::outerHeightTwips() const {
    return twips(clientRect().bottom) + DesignFrameHeightTwips;
}

void Win32MainWindow::setOuterWidthTwips(double twips) {
    const RECT client{0, 0, std::max(0, px(twips - DesignFrameWidthTwips)), clientRect().bottom};
    const RECT outer = OuterFromClient(client, Style, ExStyle, dpi_);
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::setOuterHeightTwips(double twips) {
    const RECT client{0, 0, clientRect().right, std::max(0, px(twips - DesignFrameHeightTwips))};
    const RECT outer = OuterFromClient(client, Style, ExStyle, dpi_);
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Win32MainWindow::isMinimized() const {
    return IsIconic(window_) != FALSE;
}

void Win32MainWindow::setSlotWidth(std::int16_t index, double twips) {
    if (!validSlot(index)) {
        return;
    }
    slots_[index].widthTwips = twips;
    RECT box{};
    GetWindowRect(slots_[index].box, &box);
    SetWindowPos(slots_[index].box, nullptr, 0, 0, std::max(0, px(twips)), box.bottom - box.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::reportKeyFailure(const std::string& why) {
    showFailure(L"キー入力を送れませんでした。", why);
}

void Win32MainWindow::reportPastedInsteadOfTyped(const std::string& why) {
    showFailure(L"入力メソッドの状態が分からないため、キー入力の代わりに貼り付けで送りました。", why);
}

void Win32MainWindow::reportClipboardFailure(const std::string& why) {
    showFailure(L"クリップボードを使えませんでした。", why);
}

void Win32MainWindow::showFailure(const wchar_t* headline, const std::string& why) {
    // One notice at a time, updated in place; shown without taking the focus, so that the target
    // window stays the target.
    const std::wstring message = std::wstring(headline) + L"\r\n" + WideFromUtf8(why);
    if (!IsWindow(notice_)) {
        RECT outer{};
        GetWindowRect(window_, &outer);
        notice_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, NoticeClass, L"Varnel",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, outer.left, outer.bottom, px(4800),
                                  px(1200), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, px(120), px(120), px(4500),
                        px(800), notice_, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetFontOnChildren(notice_, captionFonts_[0]);
    }
    SetWindowTextW(GetWindow(notice_, GW_CHILD), message.c_str());
    ShowWindow(notice_, SW_SHOWNOACTIVATE);
}

void Win32MainWindow::unloadSlotMenu() {
    slotMenu_.reset();
}

void Win32MainWindow::unloadSettingsDialog() {
    if (settings_) {
        settings_->unload();
    }
}

void Win32MainWindow::unloadEditDialog() {
    if (editDialog_) {
        editDialog_->unload();
    }
}

void Win32MainWindow::onCommand(int id, int code) {
    if (!context_ || unloaded_) {
        return;
    }
    if (id >= ids::Slot + 1 && id <= ids::Slot + 10) {
        if (code == EN_CHANGE) {
            onSlotEdited(id - ids::Slot);
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    if (id == ids::ZOrderButton + 1 || id == ids::ZOrderButton + 2) {
        SelectZOrder(*context_, static_cast<ZOrderMode>(id - ids::ZOrderButton));
    } else if (id >= ids::ConversionButton && id < ids::ConversionButton + 6) {
        if (const auto kind =
                ConversionKindForButton(static_cast<std::int16_t>(id - ids::ConversionButton))) {
            ConvertTargetSelection(*context_, *kind);
        }
    } else if (id == ids::SettingsButton) {
        settings_->OpenSettingsDialog();
    } else if (id > ids::CopyButton && id <= ids::CopyButton + 10) {
        CopySlot(*context_, static_cast<std::int16_t>(id - ids::CopyButton));
    } else if (id > ids::SendButton && id <= ids::SendButton + 10) {
        SendSlot(*context_, static_cast<std::int16_t>(id - ids::SendButton));
    }
}

void Win32MainWindow::onSlotEdited(int index) {
    Slot& slot = slots_[index];
    if (slot.setting) {
        return;
    }
    // After an edit the slot holds what the box shows, CR LF between lines as the box keeps them.
    slot.exact = SharedText(ShownText(g_editProc, slot.box));
}

void Win32MainWindow::onSlotPressed(int index, MouseButton button, POINT at) {
    if (!context_ || unloaded_) {
        return;
    }
    if (!slotMenu_ && button == MouseButton::Right) {
        slotMenu_ = std::make_unique<Win32SlotMenu>(window_);
    }
    RECT outer{}, box{};
    GetWindowRect(window_, &outer);
    GetWindowRect(slots_[index].box, &box);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
    // The window's outer corner on the screen, and the slot's place in the client area, in twips.
    const SlotMenuAnchor anchor{twips(outer.left), twips(outer.top), twips(box.left), twips(box.top),
                                twips(box.bottom - box.top)};
    if (slotMenu_) {
        RECT onScreen{};
        GetWindowRect(slots_[index].box, &onScreen);
        slotMenu_->keepClearOf(onScreen);
        OnSlotMouseDown(*context_, *slotMenu_, anchor, static_cast<std::int16_t>(index), button, twips(at.x),
                        twips(at.y));
    }
}

void Win32MainWindow::close() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    timer_->setEnabled(false);
    if (context_) {
        // A delivery that is waiting stops at its next yield, and nothing more is delivered.
        ShutDownDeliveries(*context_);
    }
    UnloadSecondaryWindows(*this);
    ShowWindow(window_, SW_HIDE);
    PostQuitMessage(0);
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The window's object, handed over by CreateWindowExW.
        auto* created =
            static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->window_ == window) {
        return self->handle(message, wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETOBJECT:
            if (const auto object = ClientObjectWithRole(window_, wParam, lParam, WindowRole::Frame)) {
                return *object;
            }
            break;
        case WM_TIMER:
            if (wParam == TickTimerId) {
                if (context_ && !unloaded_) {
                    OnCaptureTick(*context_);
                    ShowStateToOtherPrograms(*context_);
                }
                return 0;
            }
            break;
        case WM_COMMAND:
            if (lParam != 0) {
                onCommand(LOWORD(wParam), HIWORD(wParam));
            }
            return 0;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                FitSlotsToWidth(*this);
                showOnlyControlsInView();
            }
            return 0;
        case WM_GETMINMAXINFO: {
            // The window may not be narrowed below the minimum width; the resize rule enforces it too.
            const RECT client{0, 0, px(ClientWidthFromOuter(MinimumWindowWidth)), 0};
            const RECT outer = OuterFromClient(client, Style, ExStyle, dpi_);
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = outer.right - outer.left;
            return 0;
        }
        case WM_LBUTTONDBLCLK:
            // Only the bare client area gets here: the controls take their own double-clicks.
            if (context_ && !unloaded_) {
                CycleDisplayMode(*context_);
            }
            return 0;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id > ids::Slot && id <= ids::Slot + 10) {
                auto dc = reinterpret_cast<HDC>(wParam);
                const bool capture = slots_[id - ids::Slot].capture;
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(dc, capture ? CaptureColour : GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(capture ? captureBrush_ : GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
            HGDIOBJ old = SelectObject(dc, pen);
            const int y = px(layout::RuleY);
            MoveToEx(dc, px(layout::RuleX1), y, nullptr);
            LineTo(dc, px(layout::RuleX2), y);
            SelectObject(dc, old);
            DeleteObject(pen);
            EndPaint(window_, &paint);
            return 0;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            applyDpi();
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case ReapClosedDialogs:
            if (editDialog_) {
                editDialog_->reap();
            }
            if (settings_) {
                settings_->reap();
            }
            return 0;
        case ClipboardChangedMessage:
            clipboardChanged();
            return 0;
        case WM_CLOSE:
            close();
            return 0;
        case WM_NCDESTROY:
            // A window's properties must be gone before it is.
            Win32WindowSystem::removeShownValues(nativeHandle());
            break;
        case WM_ENDSESSION:
            // The session ends: as when the window closes (a running typing stops and gives the
            // keyboard back), before the system ends the process.
            if (wParam) {
                close();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK Win32MainWindow::slotProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(box, GWLP_USERDATA));
    const int index = GetDlgCtrlID(box) - ids::Slot;
    if (self != nullptr && validSlot(index) && self->slots_[index].box == box) {
        return self->handleSlot(index, message, wParam, lParam);
    }
    return CallWindowProcW(g_editProc, box, message, wParam, lParam);
}

LRESULT Win32MainWindow::handleSlot(int index, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND box = slots_[index].box;
    switch (message) {
        case WM_GETTEXTLENGTH:
            // The slot's whole text, line ends as held, for whoever asks (tools, tests).
            return static_cast<LRESULT>(slots_[index].exact.size());
        case WM_GETTEXT: {
            if (wParam == 0 || lParam == 0) {
                return 0;
            }
            const std::u16string& text = slots_[index].exact.str();
            const std::size_t count = std::min<std::size_t>(text.size(), wParam - 1);
            auto* out = reinterpret_cast<wchar_t*>(lParam);
            std::copy_n(reinterpret_cast<const wchar_t*>(text.data()), count, out);
            out[count] = L'\0';
            return static_cast<LRESULT>(count);
        }
        case WM_GETDLGCODE:
            // Tab moves on to the next control instead of being typed into the slot.
            return TabLeavesEdit(CallWindowProcW(g_editProc, box, message, wParam, lParam), lParam);
        case WM_SETFOCUS:
        case WM_KILLFOCUS: {
            const LRESULT result = CallWindowProcW(g_editProc, box, message, wParam, lParam);
            RedrawWindow(box, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
            return result;
        }
        case WM_NCPAINT: {
            // While the slot has the focus its sunken edge is drawn in the highlight colour: the
            // caret alone is easily missed. The edge is the box's own, so nothing moves.
            const LRESULT result = CallWindowProcW(g_editProc, box, message, wParam, lParam);
            if (GetFocus() == box) {
                HDC dc = GetWindowDC(box);
                RECT edge{};
                GetWindowRect(box, &edge);
                OffsetRect(&edge, -edge.left, -edge.top);
                HBRUSH highlight = GetSysColorBrush(COLOR_HIGHLIGHT);
                for (int i = 0; i < 2; ++i) {
                    FrameRect(dc, &edge, highlight);
                    InflateRect(&edge, -1, -1);
                }
                ReleaseDC(box, dc);
            }
            return result;
        }
        case WM_KEYDOWN:
            // F2 opens the slot in the edit dialog, as a double-click does.
            if (wParam == VK_F2 && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0 &&
                GetKeyState(VK_MENU) >= 0) {
                if (editDialog_ && !unloaded_) {
                    editDialog_->OpenEditDialog(static_cast<std::int16_t>(index));
                }
                return 0;
            }
            break;
        case WM_SETTEXT:
            // From outside (tools, tests): the slot takes the text exactly. Our own settings go
            // straight to the box.
            setText(static_cast<std::int16_t>(index),
                    lParam != 0 ? FromWide(reinterpret_cast<const wchar_t*>(lParam)) : std::u16string{});
            return TRUE;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: {
            const LRESULT result = CallWindowProcW(g_editProc, box, message, wParam, lParam);
            const MouseButton button = message == WM_LBUTTONDOWN   ? MouseButton::Left
                                       : message == WM_RBUTTONDOWN ? MouseButton::Right
                                                                   : MouseButton::Middle;
            if (button == MouseButton::Right) {
                SetFocus(box);
            }
            onSlotPressed(index, button,
                          POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return result;
        }
        case WM_LBUTTONDBLCLK: {
            const LRESULT result = CallWindowProcW(g_editProc, box, message, wParam, lParam);
            if (editDialog_ && !unloaded_) {
                editDialog_->OpenEditDialog(static_cast<std::int16_t>(index));
            }
            return result;
        }
        case WM_CONTEXTMENU: {
            // The slot menu replaces the box's own. From the keyboard (the menu key, Shift+F10) the
            // menu opens at the caret.
            if (static_cast<short>(LOWORD(lParam)) == -1 && static_cast<short>(HIWORD(lParam)) == -1) {
                POINT caret{};
                GetCaretPos(&caret);
                RECT box_rect{};
                GetClientRect(box, &box_rect);
                caret.y = std::min<LONG>(caret.y + px(layout::SlotHeight) / 2, box_rect.bottom);
                onSlotPressed(index, MouseButton::Right, caret);
            }
            return 0;
        }
        default:
            break;
    }
    return CallWindowProcW(g_editProc, box, message, wParam, lParam);
}

}  // namespace varnel
