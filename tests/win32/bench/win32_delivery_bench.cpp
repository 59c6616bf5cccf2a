// Figures of the Windows backends with Wine's notepad as the target: how long a paste takes from
// the paste key until the target has fetched the text, and how fast typing goes. Prints them; the
// only checks are that the texts arrived whole. Label bench: scripts/test-windows.sh leaves it out.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/Win32Clipboard.h"
#include "platform/win32/Win32EventPump.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32WindowSystem.h"
#include "platform/win32/Win32Windows.h"
#include "win32/Notepad.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using MessagePump = Win32EventPump;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void PrintSpread(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%s: min %.1f, median %.1f, max %.1f ms (%zu runs)\n", what, values.front(),
                values[values.size() / 2], values.back(), values.size());
}

class NotepadFigures : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!notepad_.ready()) {
            GTEST_SKIP() << "notepad could not be started (no desktop?)";
        }
        ASSERT_TRUE(windows_.makeForeground(notepad_.handle()));
    }
    MessagePump pump_;
    Win32WindowSystem windows_;
    Win32Keyboard keys_;
    Notepad notepad_;
};

TEST_F(NotepadFigures, Paste) {
    Win32Clipboard clipboard(pump_);
    const std::u16string text = u"貼り付けの試験 paste ｶﾅ \U0001F600";
    std::vector<double> keyToPasted, keyToSent;
    int whole = 0;
    for (int run = 0; run < 20; ++run) {
        notepad_.clear();
        ASSERT_TRUE(clipboard.offerForPaste(text, notepad_.handle(), PasteKind::SlotText));
        const auto start = Clock::now();
        ASSERT_TRUE(keys_.pressPasteKey());
        ASSERT_TRUE(keys_.waitUntilSent());
        keyToSent.push_back(Milliseconds(Clock::now() - start));
        const Status pasted = clipboard.waitUntilPasted(1s);
        EXPECT_TRUE(pasted) << pasted.error();
        keyToPasted.push_back(Milliseconds(Clock::now() - start));
        clipboard.endPaste();
        whole += notepad_.awaitText(text, 2s) ? 1 : 0;
    }
    EXPECT_EQ(whole, 20);
    PrintSpread("paste key until the target took it and its keys were processed", keyToSent);
    PrintSpread("paste key until the paste was seen", keyToPasted);
}

TEST_F(NotepadFigures, Typing) {
    std::u16string text;
    while (text.size() < 500) {
        text += u"かな漢字 typing ABC 123 ｶﾅ\r";
    }
    text.resize(500);
    notepad_.clear();
    const auto start = Clock::now();
    const Status typed = keys_.typeText(text, [this] {
        pump_.pumpOnce();
        return true;
    });
    ASSERT_TRUE(typed) << typed.error();
    ASSERT_TRUE(keys_.waitUntilSent());
    const double seconds = Milliseconds(Clock::now() - start) / 1000.0;
    std::u16string expected;
    for (char16_t unit : text) {
        expected += unit == u'\r' ? std::u16string(u"\r\n") : std::u16string(1, unit);
    }
    EXPECT_TRUE(notepad_.awaitText(expected, 5s)) << "typed text arrived whole";
    std::printf("typing 500 units: %.2f s, %.0f units/s, %d slices, paced by the sentinel: %s\n", seconds,
                500 / seconds, keys_.lastTyping().slices, keys_.lastTyping().paced ? "yes" : "no");
}

TEST_F(NotepadFigures, FocusReturn) {
    // A window of ours in front, as after a click on it; then back to notepad.
    HWND own = ::CreateWindowExW(0, L"STATIC", L"varnel figures", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                 200, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(own, nullptr);
    std::vector<double> durations;
    int inFront = 0;
    for (int run = 0; run < 10; ++run) {
        ASSERT_TRUE(windows_.makeForeground(FromHwnd(own)));
        pump_.pumpOnce();
        const auto start = Clock::now();
        const Status front = windows_.makeForeground(notepad_.handle());
        durations.push_back(Milliseconds(Clock::now() - start));
        inFront += front && windows_.foregroundWindow().value() == notepad_.handle() ? 1 : 0;
        pump_.pumpOnce();
    }
    ::DestroyWindow(own);
    EXPECT_EQ(inFront, 10);
    PrintSpread("makeForeground from our window to notepad, settle included", durations);
}

}  // namespace
}  // namespace varnel
