// The Windows front end against its layout and the behaviour, over fake services: the main window's
// controls, the slots' exact text, the edit dialog and the settings dialog.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <oleacc.h>

#include <string>

#include "core/DisplayModes.h"
#include "fakes/FakePlatform.h"
#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32WindowSystem.h"
#include "ui/layout/MainLayout.h"
#include "ui/win32/ControlIds.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32Ui.h"

using namespace varnel;
namespace ids = win32_ids;

namespace {

struct Opened {
    fake::CallLog log;
    fake::WindowSystem windows{log};
    Win32WindowSystem systemWindows;
    fake::Clipboard clipboard{log};
    fake::Keyboard keyboard{log};
    Win32EventPump pump;
    fake::TickTimer timer{log};
    fake::Files files{log};
    fake::Codepage codepage{log};
    SteadyClock clock;
    AppState state;
    MainWindowState members;
    Win32MainWindow window{state, members};
    Platform platform;

    // With the system's window system instead of the fake where asked.
    explicit Opened(bool withSystemWindows = false)
        : platform{withSystemWindows ? static_cast<WindowSystem&>(systemWindows) : windows,
                   clipboard,
                   keyboard,
                   pump,
                   timer,
                   files,
                   codepage,
                   clock} {
        window.tickTimer().setEnabled(false);  // no capture tick behind the test's back
        window.attach(platform);
        static_cast<void>(window.load());  // no slot file is named: nothing to fail
        pump.pumpOnce();
    }
    ~Opened() { pump.pumpOnce(); }
    HWND control(int id) const { return window.control(id); }
    // A control's rectangle in its parent's client area.
    static RECT placeOf(HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static std::u16string textOf(HWND control) { return win32ui::WindowText(control); }
    void click(HWND button) {
        SendMessageW(button, BM_CLICK, 0, 0);
        pump.pumpOnce();
    }
    // The colour the main window paints a slot's background in.
    COLORREF slotColour(int index) {
        HDC dc = GetDC(window.window());
        SendMessageW(window.window(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control(ids::Slot + index)));
        const COLORREF colour = GetBkColor(dc);
        ReleaseDC(window.window(), dc);
        return colour;
    }
};

void ExpectPlace(HWND control, int left, int top, int width, int height, const char* what) {
    const RECT r = Opened::placeOf(control);
    // 15 twips to the pixel at 96 DPI.
    EXPECT_EQ(r.left, win32ui::Px(left, 96)) << what;
    EXPECT_EQ(r.top, win32ui::Px(top, 96)) << what;
    EXPECT_EQ(r.right - r.left, win32ui::Px(width, 96)) << what;
    EXPECT_EQ(r.bottom - r.top, win32ui::Px(height, 96)) << what;
}

}  // namespace

TEST(Win32MainWindow, ControlsStandWhereTheLayoutPutsThemAt96Dpi) {
    Opened app;
    ASSERT_EQ(app.window.dpi(), 96);
    EXPECT_EQ(Opened::textOf(app.window.window()), u"Varnel");
    using namespace layout;
    ExpectPlace(app.control(ids::ZOrderButton + 1), 120, TopRowTop, ButtonSize, ButtonSize,
                "always-on-top button");
    ExpectPlace(app.control(ids::ZOrderButton + 2), 480, TopRowTop, ButtonSize, ButtonSize,
                "send-behind button");
    for (int i = 0; i < 6; ++i) {
        ExpectPlace(app.control(ids::ConversionButton + i), 960 + 360 * i, TopRowTop, ButtonSize, ButtonSize,
                    "conversion button");
    }
    EXPECT_EQ(Opened::textOf(app.control(ids::ConversionButton + 2)), u"あ");
    ExpectPlace(app.control(ids::SettingsButton), 3240, TopRowTop, ButtonSize, ButtonSize, "settings button");
    // The resize rule has made every slot 3840 - 1185 wide; slot 5 keeps its own height.
    for (int i = 1; i <= 10; ++i) {
        ExpectPlace(app.control(ids::CopyButton + i), 120, 120 + 480 * i, ButtonSize, ButtonSize,
                    "copy button");
        ExpectPlace(app.control(ids::SendButton + i), 480, 120 + 480 * i, ButtonSize, ButtonSize,
                    "send button");
        ExpectPlace(app.control(ids::Slot + i), 960, 120 + 480 * i, 2655, i == 5 ? 405 : 375, "slot");
    }
    RECT client{};
    GetClientRect(app.window.window(), &client);
    EXPECT_EQ(client.right, win32ui::Px(3720, 96));
    EXPECT_EQ(client.bottom, win32ui::Px(2970, 96));
    EXPECT_DOUBLE_EQ(app.window.outerWidthTwips(), 3840);
    EXPECT_DOUBLE_EQ(app.window.outerHeightTwips(), 3375);
    // Start-up: slot 1 in the capture colour, the others in the window colour.
    EXPECT_EQ(app.slotColour(1), Win32MainWindow::CaptureColour);
    EXPECT_EQ(app.slotColour(2), GetSysColor(COLOR_WINDOW));
    // Narrowing below the minimum width: the rule puts it back, and the slots follow.
    app.window.setOuterWidthTwips(1000);
    EXPECT_DOUBLE_EQ(app.window.outerWidthTwips(), MinimumWindowWidth);
    ExpectPlace(app.control(ids::Slot + 3), 960, 1560, MinimumWindowWidth - SlotWidthAllowance, 375,
                "slot 3");
}

// The name a screen reader reads for a control (MSAA), where the system answers; else empty.
std::u16string AccessibleName(HWND control) {
    using FromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    using FreeString = void(WINAPI*)(BSTR);
    HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
    HMODULE oleaut = LoadLibraryW(L"oleaut32.dll");
    auto fromWindow = reinterpret_cast<FromWindow>(
        reinterpret_cast<void*>(GetProcAddress(oleacc, "AccessibleObjectFromWindow")));
    auto freeString =
        reinterpret_cast<FreeString>(reinterpret_cast<void*>(GetProcAddress(oleaut, "SysFreeString")));
    std::u16string name;
    IAccessible* accessible = nullptr;
    if (fromWindow != nullptr && freeString != nullptr &&
        SUCCEEDED(fromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                             reinterpret_cast<void**>(&accessible)))) {
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        if (accessible->get_accName(self, &text) == S_OK && text != nullptr) {
            name = reinterpret_cast<const char16_t*>(text);
            freeString(text);
        }
        accessible->Release();
    }
    return name;
}

TEST(Win32MainWindow, NamedForScreenReadersTabStaysInViewAndF2OpensTheEditDialog) {
    Opened app;
    // Picture buttons are named by their (undrawn) text, after their slot; the tooltip stays.
    EXPECT_EQ(Opened::textOf(app.control(ids::CopyButton + 3)), u"スロット 3 をコピー");
    EXPECT_EQ(Opened::textOf(app.control(ids::SendButton + 10)), u"スロット 10 を送る");
    // A slot is named by the label just before it, not by its text.
    HWND label = GetWindow(app.control(ids::Slot + 4), GW_HWNDPREV);
    EXPECT_EQ(GetDlgCtrlID(label), ids::SlotLabel + 4);
    EXPECT_EQ(Opened::textOf(label), u"スロット 4");
    app.window.setText(4, u"abc");
    // What a screen reader reads, where the system answers (Wine 8 does).
    const std::u16string name = AccessibleName(app.control(ids::CopyButton + 3));
    if (!name.empty()) {
        EXPECT_EQ(name, u"スロット 3 をコピー");
        EXPECT_EQ(AccessibleName(app.control(ids::Slot + 4)), u"スロット 4");
    }

    // Tab (IsDialogMessage) reaches the top row's 9 and 3 per row shown: five rows, the top row
    // only, all ten rows.
    auto tabStops = [&app] {
        HWND first = app.control(ids::ZOrderButton + 1);
        int count = 1;
        for (HWND h = GetNextDlgTabItem(app.window.window(), first, FALSE); h != first && count < 50;
             h = GetNextDlgTabItem(app.window.window(), h, FALSE)) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(tabStops(), 24);
    SetFocus(app.control(ids::Slot + 2));
    CycleDisplayMode(app.window.context());
    EXPECT_EQ(tabStops(), 9);
    EXPECT_FALSE(IsWindowVisible(app.control(ids::Slot + 2)));
    EXPECT_NE(GetFocus(), app.control(ids::Slot + 2));  // typing reaches no hidden slot
    CycleDisplayMode(app.window.context());
    EXPECT_EQ(tabStops(), 39);

    // F2 in a slot opens it in the edit dialog.
    app.window.setText(3, u"abc");
    SendMessageW(app.control(ids::Slot + 3), WM_KEYDOWN, VK_F2, 0);
    ASSERT_NE(app.window.editDialog(), nullptr);
    EXPECT_EQ(Opened::textOf(app.window.editDialog()->window()), u"テキストの編集（3）");
}

TEST(Win32MainWindow, TheSlotMenuOpensClearOfItsSlot) {
    Opened app;
    // The menu's place is read, and the menu closed, from inside its own loop.
    static RECT shown{};
    shown = RECT{};
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        if (HWND menu = FindWindowW(L"#32768", nullptr); menu != nullptr && IsWindowVisible(menu)) {
            GetWindowRect(menu, &shown);
            EndMenu();
        }
    });
    HWND slot = app.control(ids::Slot + 1);
    SendMessageW(slot, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(slot), MAKELPARAM(-1, -1));  // the menu key
    KillTimer(nullptr, timer);
    RECT box{}, overlap{};
    GetWindowRect(slot, &box);
    ASSERT_FALSE(IsRectEmpty(&shown));
    EXPECT_FALSE(IntersectRect(&overlap, &shown, &box));
}

TEST(Win32MainWindow, SlotsKeepTheirTextExactlyUntilEdited) {
    Opened app;
    const std::u16string text = u"一行目\r\n二行目\nthree\rfour";
    ASSERT_TRUE(app.window.setText(2, text));
    EXPECT_EQ(app.window.text(2), text);
    HWND slot = app.control(ids::Slot + 2);
    EXPECT_EQ(Opened::textOf(slot), text);                    // WM_GETTEXT answers with the text as held
    EXPECT_EQ(SendMessageW(slot, EM_GETLINECOUNT, 0, 0), 4);  // every kind of line end shows as one

    // Double-click: the edit dialog holds the very text, and Ｏ Ｋ on it unedited gives it back.
    SendMessageW(slot, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    Win32EditDialog* dialog = app.window.editDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Opened::textOf(dialog->window()), u"テキストの編集（2）");
    EXPECT_EQ(Opened::textOf(dialog->textBox()), text);
    app.window.setText(2, u"changed meanwhile");
    app.click(dialog->okButton());
    EXPECT_EQ(app.window.editDialog(), nullptr);
    EXPECT_EQ(app.window.text(2), text);

    // Typing into the slot: it holds what the box shows, CR LF between lines.
    SendMessageW(slot, EM_SETSEL, 0, -1);
    SendMessageW(slot, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x\r\ny"));
    EXPECT_EQ(app.window.text(2), u"x\r\ny");

    // A long text is shown in part and read-only, and kept whole.
    const std::u16string longText(5000, u'あ');
    app.window.setText(3, longText);
    EXPECT_TRUE(app.window.slotShowsPart(3));
    EXPECT_NE(GetWindowLongPtrW(app.control(ids::Slot + 3), GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(app.window.text(3), longText);
}

TEST(Win32SettingsDialog, ShowsTheSettingsAndAppliesThemThroughTheRules) {
    Opened app;
    app.state.SendMode = SendByKeystrokes;
    app.state.DisplayMode = DisplaySize::TenRows;
    app.state.CaptureEnabled = false;
    app.state.RotationCount = 3;
    app.click(app.control(ids::SettingsButton));
    Win32SettingsDialog* dialog = app.window.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Opened::textOf(dialog->window()), u"Varnelの詳細設定");
    auto checked = [&](int id) {
        return SendMessageW(dialog->control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    EXPECT_FALSE(checked(ids::SendModeOption + 0));
    EXPECT_TRUE(checked(ids::SendModeOption + 1));
    EXPECT_TRUE(checked(ids::DisplayOption + 2));
    EXPECT_FALSE(checked(ids::CaptureCheck));
    EXPECT_EQ(Opened::textOf(dialog->control(ids::RotationCombo)), u" 3");
    ExpectPlace(dialog->control(ids::CaptureFrame), 120, 2520, 4095, 735, "capture frame");
    ExpectPlace(dialog->control(ids::DisplayOption + 1), 120 + 2160, 3480 + 240, 1815, 255,
                "buttons-only option");

    app.click(dialog->control(ids::SendModeOption + 0));
    app.click(dialog->control(ids::DisplayOption + 1));
    app.click(dialog->control(ids::CaptureCheck));
    SetWindowTextW(dialog->control(ids::RotationCombo), L"2.5");
    EXPECT_TRUE(checked(ids::SendModeOption + 0));
    EXPECT_FALSE(checked(ids::SendModeOption + 1));  // one option per group
    app.click(dialog->control(ids::SettingsOk));

    EXPECT_EQ(app.window.settingsDialog(), nullptr);
    EXPECT_EQ(app.state.SendMode, SendByPaste);
    EXPECT_EQ(app.state.DisplayMode, DisplaySize::ButtonsOnly);
    EXPECT_TRUE(app.state.CaptureEnabled);
    EXPECT_EQ(app.state.RotationCount, 2);  // half to even
    EXPECT_DOUBLE_EQ(app.window.outerHeightTwips(), PresetHeight[1]);
    EXPECT_EQ(app.slotColour(2), Win32MainWindow::CaptureColour);
    EXPECT_EQ(app.slotColour(3), GetSysColor(COLOR_WINDOW));

    // Clear all empties the slots; Cancel changes no setting.
    app.window.setText(4, u"text");
    app.click(app.control(ids::SettingsButton));
    ASSERT_NE(app.window.settingsDialog(), nullptr);
    app.click(app.window.settingsDialog()->control(ids::ClearAllButton));
    EXPECT_EQ(app.window.text(4), u"");
    app.click(app.window.settingsDialog()->control(ids::DisplayOption + 0));
    app.click(app.window.settingsDialog()->control(ids::SettingsCancel));
    EXPECT_EQ(app.window.settingsDialog(), nullptr);
    EXPECT_EQ(app.state.DisplayMode, DisplaySize::ButtonsOnly);
}

TEST(Win32MainWindow, StartsTopmostAndTheZOrderButtonsMoveItAlone) {
    Opened app(true);
    auto topmost = [](HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    EXPECT_TRUE(topmost(app.window.window()));
    app.click(app.control(ids::SettingsButton));
    ASSERT_NE(app.window.settingsDialog(), nullptr);
    HWND dialog = app.window.settingsDialog()->window();
    EXPECT_TRUE(topmost(dialog));
    // "背面に表示する" takes the main window out of the topmost group; the dialog stays on top.
    app.click(app.control(ids::ZOrderButton + 2));
    EXPECT_FALSE(topmost(app.window.window()));
    EXPECT_TRUE(topmost(dialog));
    app.click(app.control(ids::ZOrderButton + 1));
    EXPECT_TRUE(topmost(app.window.window()));
    app.click(app.window.settingsDialog()->control(ids::SettingsCancel));
}
