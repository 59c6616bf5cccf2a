// Keystroke typing into GTK3 and Qt (input method modules) and Tk (XIM) windows while fcitx5 + mozc or
// ibus + mozc is switched on or off in them, or while none runs: the text arrives exactly and the input
// method is left as it was. Runs under run-with-ime.sh, which names the input method in VARNEL_IME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "base/Utf8.h"
#include "delivery/Delivery.h"
#include "platform/dbus/DBusInputMethods.h"
#include "platform/x11/X11Keyboard.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

template <class F>
bool Eventually(F condition, Clock::duration bound = 5s) {
    const auto end = Clock::now() + bound;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

const std::string Im = std::getenv("VARNEL_IME") != nullptr ? std::getenv("VARNEL_IME") : "";

// The input method's state as its own tool tells it: on or off, and which one.
std::string ImState() {
    if (Im == "none") {
        return "";
    }
    return Im == "fcitx5" ? Shell("fcitx5-remote") + " " + Shell("fcitx5-remote -n")
                          : Shell("ibus engine 2>/dev/null");
}

bool XimServerListed() {
    const std::string server = Im == "fcitx5" ? "@server=fcitx" : "@server=ibus";
    return Im == "none" || Shell("xprop -root XIM_SERVERS").find(server) != std::string::npos;
}

bool SwitchOn() {
    if (Im == "fcitx5") {
        // The window's input context reaches fcitx5 a little after the focus: asked again until then.
        return Eventually([] {
            Shell("fcitx5-remote -o; fcitx5-remote -s mozc");
            return ImState() == "2 mozc";
        });
    }
    // ibus knows its engines a little after it has started: asked again until then.
    return Eventually([] {
        Shell("ibus engine mozc-jp 2>/dev/null");
        return ImState() == "mozc-jp";
    });
}

bool SwitchOff() {
    if (Im == "none") {
        return true;
    }
    if (Im == "fcitx5") {
        return Eventually([] {
            Shell("fcitx5-remote -c");
            return ImState().rfind("1 ", 0) == 0;
        });
    }
    return Eventually([] {
        Shell("ibus engine xkb:jp::jpn 2>/dev/null");
        return ImState() == "xkb:jp::jpn";
    });
}

// What a text window holds after the text is typed: every line break is a line feed.
std::string Shown(const std::u16string& typed) {
    std::u16string shown;
    for (char16_t c : typed) {
        shown.push_back(c == u'\r' ? u'\n' : c);
    }
    return EncodeUtf8(shown);
}

class ImeTyping : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(Eventually(
            [] {
                return Im == "none" ||
                       (Im == "fcitx5" ? Shell("fcitx5-remote") != "" : Shell("ibus address") != "(null)");
            },
            10s))
            << Im << " did not start";
        // A Tk window started before the XIM server is there never talks to the input method.
        ASSERT_TRUE(Eventually(XimServerListed, 10s)) << Im << " has no XIM server";
        std::string why;
        keyboard = X11Keyboard::open(&why);
        ASSERT_NE(keyboard, nullptr) << why;
    }
    static void TearDownTestSuite() { keyboard.reset(); }

    void SetUp() override {
        title = "varnel-ime-" + GetParam();
        out = "/tmp/" + title + "-" + std::to_string(getpid());
        std::remove(out.c_str());
        const char* copied = std::getenv("VARNEL_IME_TEST_DIR");  // where run-with-ime.sh put them
        const std::string dir = copied != nullptr ? copied : VARNEL_IME_TEST_DIR;
        const char* qt = std::getenv("VARNEL_IME_QT_TARGET");
        const std::string program = GetParam() == "gtk"  ? "python3 " + dir + "/gtk_target.py"
                                    : GetParam() == "qt" ? std::string(qt != nullptr ? qt : "ime_qt_target")
                                                         : "wish " + dir + "/tk_target.tcl";
        Shell(program + " " + title + " " + out + " >/dev/null 2>&1 & echo $! > " + out + ".pid");
        pid = Shell("cat " + out + ".pid");
        window = "";
        ASSERT_TRUE(
            Eventually([&] { return !(window = Shell("xdotool search --name '^" + title + "$'")).empty(); }));
        Shell("xdotool windowactivate --sync " + window);
    }
    void TearDown() override {
        Shell("kill " + pid);
        std::remove((out + ".pid").c_str());
        std::remove(out.c_str());
    }

    // Types the text the way a keystroke send does, and waits for the window to show it.
    bool typeExactly(const std::u16string& text) {
        const std::string before = ReadFile(out);
        DBusInputMethods inputMethods([] { return keyboard->keysPassedInputMethod(); });
        const auto start = Clock::now();
        const Result<bool> suspended = inputMethods.suspend();
        EXPECT_TRUE(suspended.ok()) << suspended.error();
        const std::u16string typed = ApplyLineEndRule(text);
        EXPECT_TRUE(keyboard->typeText(typed).ok());
        EXPECT_TRUE(keyboard->waitUntilSent().ok());
        const double typing = std::chrono::duration<double>(Clock::now() - start).count();
        const Status restored = inputMethods.restore();
        EXPECT_TRUE(restored.ok()) << restored.error();
        const std::string expected = before + Shown(typed);
        const bool exact = Eventually([&] { return ReadFile(out) == expected; });
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
        std::printf("%s %s, %s: %zu units typed in %.3f s (%.0f a second), all shown after %.2f s%s\n",
                    Im.c_str(), GetParam().c_str(),
                    suspended.ok() && suspended.value() ? "switched off for the typing" : "off", typed.size(),
                    typing, static_cast<double>(typed.size()) / typing, seconds,
                    !stats.ximServer  ? ""
                    : stats.ximSilent ? ", XIM server silent"
                                      : ", XIM server asked");
        EXPECT_EQ(ReadFile(out), expected);
        // Through XIM (Tk) the keys come back from the input method before their keycodes change again:
        // the input method must have been waited on, not just given a fixed time.
        EXPECT_TRUE(GetParam() != "tk" || Im == "none" || (stats.ximServer && !stats.ximSilent));
        return exact;
    }

    // Keys typed while the input method is on are composed in the window: its module (or XIM) is in use.
    bool composes() {
        const std::string before = ReadFile(out);
        Shell("xdotool type --delay 30 aiu; xdotool key Return");
        return Eventually([&] { return ReadFile(out) == before + "あいう"; });
    }

    static inline std::unique_ptr<X11Keyboard> keyboard;
    std::string title, out, pid, window;
};

const std::u16string Mixed = u"abc ABC 123 あいう 漢字変換 ｶﾀｶﾅ ﾞﾟ 😀\tL1\nL2\r\nL3\rend";

TEST_P(ImeTyping, TypesExactlyWithTheInputMethodOnAndLeavesItOn) {
    if (Im == "none") {
        GTEST_SKIP() << "no input method runs";
    }
    ASSERT_TRUE(SwitchOn());
    ASSERT_TRUE(composes());
    const std::string state = ImState();
    // A first send of keys the keymap has (no keycode remapped on the way) is waited through the input
    // method all the same, then another send in a row, as one after another click.
    std::u16string plain;
    for (int line = 0; line < 4; ++line) {
        plain += u"The quick brown fox jumps over the lazy dog 0123456789\t;\n";
    }
    EXPECT_TRUE(typeExactly(plain));
    EXPECT_EQ(ImState(), state);
    EXPECT_TRUE(typeExactly(Mixed));
    EXPECT_EQ(ImState(), state);
}

TEST_P(ImeTyping, TypesExactlyWithTheInputMethodOffAndLeavesItOff) {
    ASSERT_TRUE(SwitchOff());
    const std::string state = ImState();
    EXPECT_TRUE(typeExactly(Mixed));
    EXPECT_EQ(ImState(), state);
}

// More characters outside the keymap than the spare keycodes carry at once: remaps between the keys.
TEST_P(ImeTyping, TypesTextOfSeveralKeymapBatchesExactly) {
    ASSERT_TRUE(SwitchOff());
    std::u16string kanji;
    for (char16_t i = 0; i < 400; ++i) {  // a stock keymap's spare keycodes carry 304 at once
        kanji.push_back(static_cast<char16_t>(0x4E00 + 7 * i));
    }
    EXPECT_TRUE(typeExactly(kanji));
    EXPECT_GT(keyboard->lastTypingStats().batches, 1);
}

INSTANTIATE_TEST_SUITE_P(Targets, ImeTyping, ::testing::Values("gtk", "qt", "tk"));

}  // namespace
}  // namespace varnel
