// The Windows backends of windows, clipboard and keys against the real system (under Wine in CI),
// with a target of our own: a top-level window with an EDIT, on a thread of its own as another
// program's window would be.
#include <windows.h>
// After windows.h:
#include <imm.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "delivery/Delivery.h"
#include "fakes/FakePlatform.h"
#include "platform/win32/Win32Clipboard.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32InputMethods.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32WindowSystem.h"
#include "platform/win32/Win32Windows.h"
#include "win32/Notepad.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using MessagePump = Win32EventPump;

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETFOCUS) {
        ::SetFocus(::GetWindow(window, GW_CHILD));
        return 0;
    }
    if (message == WM_APP) {  // a target busy for a while
        ::Sleep(static_cast<DWORD>(wParam));
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A multi-line EDIT in a top-level window, run by a thread of its own.
class Target {
  public:
    Target() {
        std::promise<void> ready;
        auto created = ready.get_future();
        thread_ = std::thread([this, &ready] {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = TargetProc;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"VarnelTestTarget";
            ::RegisterClassExW(&windowClass);
            top_ = ::CreateWindowExW(0, L"VarnelTestTarget", L"target", WS_OVERLAPPEDWINDOW, 50, 50, 400, 300,
                                     nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
            edit_ = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL,
                                      0, 0, 380, 250, top_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
            ::ShowWindow(top_, SW_SHOW);  // activated with its EDIT there to take the focus
            ready.set_value();
            MSG message;
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            finished_ = true;
        });
        created.wait();
    }
    // Closed while both threads answer messages: the activation that follows the window's end
    // waits for us.
    ~Target() {
        ::PostMessageW(top_, WM_CLOSE, 0, 0);
        while (!finished_) {
            WaitServingSentMessages(5ms);
        }
        thread_.join();
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    HWND top() const { return top_; }
    HWND edit() const { return edit_; }
    WindowHandle handle() const { return FromHwnd(top_); }
    std::u16string text() const { return EditText(edit_); }
    void setText(const std::u16string& text) const {
        ::SendMessageW(edit_, WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(std::wstring(text.begin(), text.end()).c_str()));
    }
    // Polls, pumping ours, until the EDIT holds the text; what it holds then.
    std::u16string awaitText(const std::u16string& expected, MessagePump& pump) const {
        const auto deadline = Clock::now() + 5s;
        std::u16string now = text();
        while (now != expected && Clock::now() < deadline) {
            pump.pumpOnce();
            std::this_thread::sleep_for(5ms);
            now = text();
        }
        return now;
    }

  private:
    std::thread thread_;
    HWND top_ = nullptr;
    HWND edit_ = nullptr;
    std::atomic<bool> finished_{false};
};

std::string Utf8(const std::u16string& text) {
    return std::string(text.begin(), text.end());  // for messages only
}

// Windows other than message-only ones need a desktop (under Wine: an X display).
#define SKIP_WITHOUT_DESKTOP(target) \
    if ((target).top() == nullptr)   \
    GTEST_SKIP() << "no desktop to make windows on"

const std::u16string Mixed = u"かな漢字ｶﾅ　A\U0001F600b+^%~(){}[]";

TEST(Win32Clipboard, TextRoundTripsWithEveryUnitAndChangesTheCount) {
    MessagePump pump;
    Win32Clipboard clipboard(pump);
    ASSERT_TRUE(clipboard.clear());
    EXPECT_FALSE(clipboard.hasText().value());
    const auto before = clipboard.changeCount();
    ASSERT_TRUE(clipboard.setText(Mixed + u"\r\nend"));
    EXPECT_NE(clipboard.changeCount(), before);
    EXPECT_TRUE(clipboard.hasText().value());
    const auto text = clipboard.getText();
    ASSERT_TRUE(text) << text.error();
    EXPECT_TRUE(text.value() == Mixed + u"\r\nend");
}

TEST(Win32Clipboard, PasteIsSeenWhenTheTargetTakesTheTextAndTheTextOutlivesItsOwner) {
    MessagePump pump;
    Target target;
    SKIP_WITHOUT_DESKTOP(target);
    {
        Win32Clipboard clipboard(pump);
        ASSERT_TRUE(clipboard.offerForPaste(Mixed, target.handle(), PasteKind::SlotText));
        EXPECT_FALSE(clipboard.waitUntilPasted(100ms)) << "nothing has asked yet";
        ::PostMessageW(target.edit(), WM_PASTE, 0, 0);
        const auto start = Clock::now();
        const Status pasted = clipboard.waitUntilPasted(2s);
        ASSERT_TRUE(pasted) << pasted.error();
        ::testing::Test::RecordProperty(
            "offer_to_render_us",
            std::to_string(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
        clipboard.endPaste();
        EXPECT_TRUE(target.awaitText(Mixed, pump) == Mixed);

        // Offered but never asked for: ending the paste renders it.
        ASSERT_TRUE(clipboard.offerForPaste(u"kept", target.handle(), PasteKind::SlotText));
        clipboard.endPaste();
    }
    MessagePump otherPump;
    Win32Clipboard other(otherPump);
    const auto kept = other.getText();
    ASSERT_TRUE(kept) << kept.error();
    EXPECT_TRUE(kept.value() == u"kept");
}

// Another process's paste: only a request from the target's process counts. Here our own second
// clipboard window fetches the text first, as a clipboard manager would.
TEST(Win32Clipboard, OnlyTheTargetProcessFetchingTheTextIsThePaste) {
    MessagePump pump;
    Notepad notepad;
    if (!notepad.ready()) {
        GTEST_SKIP() << "notepad could not be started (no desktop?)";
    }
    Win32Clipboard clipboard(pump);
    ASSERT_TRUE(clipboard.offerForPaste(u"one", notepad.handle(), PasteKind::SlotText));
    ::PostMessageW(notepad.edit(), WM_PASTE, 0, 0);
    const Status pasted = clipboard.waitUntilPasted(2s);
    EXPECT_TRUE(pasted) << pasted.error();
    clipboard.endPaste();
    EXPECT_TRUE(notepad.awaitText(u"one", 2s));

    notepad.clear();
    ASSERT_TRUE(clipboard.offerForPaste(u"two", notepad.handle(), PasteKind::SlotText));
    MessagePump managerPump;
    Win32Clipboard manager(managerPump);
    ASSERT_TRUE(manager.getText().value() == u"two");
    ::PostMessageW(notepad.edit(), WM_PASTE, 0, 0);
    const Status seen = clipboard.waitUntilPasted(300ms);
    ASSERT_FALSE(seen);
    EXPECT_EQ(seen.error(), "another program fetched the text first; the target's paste could not be seen");
    clipboard.endPaste();
    EXPECT_TRUE(notepad.awaitText(u"two", 2s)) << "the target still gets the text";
}

TEST(Win32Clipboard, CopyCountsOnlyWhenTheTargetTakesTheClipboardAndIsHeardOf) {
    MessagePump pump;
    Target target;
    SKIP_WITHOUT_DESKTOP(target);
    Win32Clipboard clipboard(pump);
    int changes = 0;
    clipboard.setChangeListener([&changes] { ++changes; });
    target.setText(Mixed);
    ASSERT_TRUE(clipboard.clear());
    EXPECT_FALSE(clipboard.waitForCopyFrom(target.handle(), 200ms)) << "nothing copied";
    ASSERT_TRUE(clipboard.setText(u"ours"));
    EXPECT_FALSE(clipboard.waitForCopyFrom(target.handle(), 100ms)) << "our own text is no copy";
    EXPECT_EQ(changes, 0) << "our own changes are not reported";

    ::SendMessageW(target.edit(), EM_SETSEL, 0, -1);
    ::PostMessageW(target.edit(), WM_COPY, 0, 0);
    const Status copied = clipboard.waitForCopyFrom(target.handle(), 2s);
    ASSERT_TRUE(copied) << copied.error();
    EXPECT_TRUE(clipboard.getText().value() == Mixed);
    for (const auto deadline = Clock::now() + 2s; changes == 0 && Clock::now() < deadline;) {
        pump.pumpOnce();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(changes, 1) << "the target's copy is reported";
}

TEST(Win32Clipboard, AnOwnerThatDoesNotAnswerIsNotAskedAgainUntilTheClipboardChanges) {
    MessagePump pump;
    Target target;
    SKIP_WITHOUT_DESKTOP(target);
    Win32Clipboard clipboard(pump);
    target.setText(u"busy");
    ::SendMessageW(target.edit(), EM_SETSEL, 0, -1);
    ::SendMessageW(target.edit(), WM_COPY, 0, 0);
    ::SendNotifyMessageW(target.top(), WM_APP, 900, 0);  // before any message of ours
    const auto first = clipboard.getText();
    ASSERT_FALSE(first);
    EXPECT_EQ(first.error(), "the clipboard's owner does not answer");
    EXPECT_FALSE(clipboard.getText()) << "not asked again";
    ::SendMessageW(target.edit(), WM_COPY, 0, 0);  // once it answers again: a new copy
    const auto again = clipboard.getText();
    ASSERT_TRUE(again) << again.error();
    EXPECT_TRUE(again.value() == u"busy");
}

TEST(Win32WindowSystem, WindowsTheirOrderAndTheScreen) {
    Win32WindowSystem windows;
    Target target;
    SKIP_WITHOUT_DESKTOP(target);
    EXPECT_TRUE(windows.windowExists(target.handle()));
    EXPECT_FALSE(windows.windowExists(FromHwnd(target.edit()))) << "a child is no top-level window";
    EXPECT_FALSE(windows.windowExists(0));

    auto topmost = [&] { return (::GetWindowLongPtrW(target.top(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    ASSERT_TRUE(windows.setZOrder(target.handle(), ZOrderMode::Topmost));
    EXPECT_TRUE(topmost());
    ASSERT_TRUE(windows.setZOrder(target.handle(), ZOrderMode::Bottom));
    EXPECT_FALSE(topmost());
    ASSERT_TRUE(windows.setZOrder(target.handle(), ZOrderMode::Topmost));
    ASSERT_TRUE(windows.setZOrder(target.handle(), ZOrderMode::NotTopmost));
    EXPECT_FALSE(topmost());

    Target other;
    const Status front = windows.makeForeground(other.handle());
    ASSERT_TRUE(front) << front.error();
    EXPECT_EQ(windows.foregroundWindow().value(), other.handle());
    ASSERT_TRUE(windows.makeForeground(target.handle()));
    EXPECT_EQ(windows.foregroundWindow().value(), target.handle());

    EXPECT_GT(windows.primaryMonitorArea().valueOr(MonitorArea{}).width, 0);
    EXPECT_GT(windows.twipsPerPixel().valueOr(TwipsPerPixel{0, 0}).x, 0.0f);
}

// Keys need the target in front; where the system gives it no foreground (no display), they are
// skipped with the reason.
class Win32Keys : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_DESKTOP(target_);
        const Status front = windows_.makeForeground(target_.handle());
        if (!front || windows_.foregroundWindow().value() != target_.handle()) {
            GTEST_SKIP() << "the target could not be brought to the front: " << front.error();
        }
    }
    MessagePump pump_;
    Win32WindowSystem windows_;
    Target target_;
    Win32Keyboard keys_;
};

TEST_F(Win32Keys, TypedTextArrivesExactlyAndLineEndsAreKeys) {
    const std::u16string text = Mixed + u"\rx\ty\nz";
    const Status typed = keys_.typeText(text, [this] {
        pump_.pumpOnce();
        return true;
    });
    ASSERT_TRUE(typed) << typed.error();
    ASSERT_TRUE(keys_.waitUntilSent());
    const std::u16string expected = Mixed + u"\r\nx\ty\r\nz";
    const std::u16string got = target_.awaitText(expected, pump_);
    EXPECT_TRUE(got == expected) << Utf8(got);
    EXPECT_TRUE(keys_.lastTyping().paced);
}

TEST_F(Win32Keys, TypingStopsWhenAskedBetweenSlicesOrByEscape) {
    const std::u16string text(400, u'a');
    int calls = 0;
    ASSERT_TRUE(keys_.typeText(text, [&calls] { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_LT(keys_.lastTyping().unitsSent, text.size());
    EXPECT_EQ(target_.text().size(), keys_.lastTyping().unitsSent) << "every slice sent was taken";

    target_.setText(u"");
    auto escape = [](bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = VK_ESCAPE;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        ::SendInput(1, &input, sizeof input);
    };
    calls = 0;
    const Status typed = keys_.typeText(text, [&] {
        if (++calls == 1) {
            escape(false);
        }
        return true;
    });
    escape(true);
    ASSERT_TRUE(typed) << "a stop is no failure: " << typed.error();
    EXPECT_LT(keys_.lastTyping().unitsSent, text.size());
}

TEST_F(Win32Keys, PasteAndCopyKeysReachTheTarget) {
    Win32Clipboard clipboard(pump_);
    ASSERT_TRUE(clipboard.offerForPaste(Mixed, target_.handle(), PasteKind::SlotText));
    ASSERT_TRUE(keys_.pressPasteKey());
    ASSERT_TRUE(keys_.waitUntilSent());
    const Status pasted = clipboard.waitUntilPasted(2s);
    EXPECT_TRUE(pasted) << pasted.error();
    clipboard.endPaste();
    EXPECT_TRUE(target_.awaitText(Mixed, pump_) == Mixed);

    ASSERT_TRUE(clipboard.clear());
    ::SendMessageW(target_.edit(), EM_SETSEL, 0, -1);
    ASSERT_TRUE(keys_.pressCopyKey());
    ASSERT_TRUE(keys_.waitUntilSent());
    const Status copied = clipboard.waitForCopyFrom(target_.handle(), 2s);
    ASSERT_TRUE(copied) << copied.error();
    EXPECT_TRUE(clipboard.getText().value() == Mixed);
}

// A target too busy to answer leaves the state of its input method unknown: a failure, not a wait.
TEST_F(Win32Keys, AnInputMethodThatDoesNotAnswerIsAFailureAndNothingIsRestoredAfterIt) {
    if (::ImmGetDefaultIMEWnd(target_.edit()) == nullptr) {
        GTEST_SKIP() << "the system names no IME window for the target's thread";
    }
    Win32InputMethods inputMethods;
    ::SendNotifyMessageW(target_.top(), WM_APP, 1000, 0);  // busy for 1 s, before our question
    const auto suspended = inputMethods.suspend();
    ASSERT_FALSE(suspended);
    EXPECT_NE(suspended.error().find("did not answer within 200 ms"), std::string::npos) << suspended.error();
    EXPECT_TRUE(inputMethods.restore()) << "nothing was switched off";
}

// The delivery handlers themselves over these backends, with the EDIT as the target.
TEST_F(Win32Keys, SlotsArePastedOrTypedAndASelectionIsConverted) {
    fake::CallLog log;
    fake::MainWindowView form{log};
    fake::TickTimer timer{log};
    fake::Files files{log};
    fake::Codepage codepage{log};
    Win32Clock clock;
    Win32Clipboard clipboard(pump_);
    Platform platform{windows_, clipboard, keys_, pump_, timer, files, codepage, clock};
    AppState state;
    MainWindowState mainState;
    AppContext ctx{state, mainState, form, platform};
    state.TargetWindow = target_.handle();
    mainState.LastClipboardText = u"before";
    ASSERT_TRUE(clipboard.setText(u"before"));
    form.texts[0] = Mixed;

    state.SendMode = SendByPaste;
    SendSlot(ctx, 1);
    EXPECT_TRUE(target_.awaitText(Mixed, pump_) == Mixed);
    EXPECT_TRUE(clipboard.getText().value() == u"before") << "the clipboard is given back";

    target_.setText(u"");
    state.SendMode = SendByKeystrokes;
    SendSlot(ctx, 1);
    EXPECT_TRUE(target_.awaitText(Mixed, pump_) == Mixed);

    for (const SendMethod mode : {SendByPaste, SendByKeystrokes}) {
        state.SendMode = mode;
        target_.setText(u"abc");
        ::SendMessageW(target_.edit(), EM_SETSEL, 0, -1);
        ConvertTargetSelection(ctx, ConversionKind::WideConversion);
        EXPECT_TRUE(target_.awaitText(u"ａｂｃ", pump_) == u"ａｂｃ") << "send mode " << mode;
        EXPECT_TRUE(clipboard.getText().value() == u"before");
    }
    EXPECT_TRUE(form.failures.empty()) << form.failures.front();
    EXPECT_TRUE(timer.enabled);
}

}  // namespace
}  // namespace varnel
