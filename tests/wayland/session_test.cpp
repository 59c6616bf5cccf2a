// The Wayland backends in a headless sway, driving the real handlers against native Qt text windows:
// capture of a wl-copy text, the target followed across windows, sending by paste and by keys, and the
// conversion of a target's selection. Figures are printed, never asserted.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureTick.h"
#include "delivery/Delivery.h"
#include "editing/ConvertText.h"
#include "fakes/FakePlatform.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandWindowSystem.h"
#include "platform/x11/X11Keyboard.h"

extern char** environ;

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::u16string Mixed = u"日本語のテキスト ｶﾀｶﾅ and ASCII 123 〜①𠮷";

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int RunProgram(const std::vector<std::string>& args) {
    const pid_t pid = Spawn(args);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls until the predicate holds or the bound passes.
template <class Pred>
bool Eventually(Pred pred, milliseconds bound = milliseconds(5000)) {
    const auto deadline = Clock::now() + bound;
    while (!pred()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

class WaylandSession : public ::testing::Test {
  protected:
    // One virtual keyboard for the whole session, made before any window: the headless seat has no
    // keyboard of its own, and a client only takes keys once the seat has one.
    static void SetUpTestSuite() {
        std::string why;
        keyboard = WaylandKeyboard::open(&why).release();
        ASSERT_TRUE(keyboard) << why;
    }
    static void TearDownTestSuite() { delete keyboard; }

    void SetUp() override {
        ASSERT_TRUE(keyboard);
        std::string why;
        windows = WaylandWindowSystem::open(
            OwnAppId, [this] { return world.form.handle; }, world.windows, &why);
        ASSERT_TRUE(windows) << why;
        clipboard = WaylandClipboard::open(world.pump, &why);
        ASSERT_TRUE(clipboard) << why;
        platform = std::make_unique<Platform>(Platform{*windows, *clipboard, *keyboard, world.pump,
                                                       world.timer, world.files, world.codepage, clock});
        ctx = std::make_unique<AppContext>(AppContext{world.state, world.form1, world.form, *platform});
        world.startValues();
        dir = "/tmp/varnel-wl-test." + std::to_string(getpid());
        RunProgram({"mkdir", "-p", dir});
    }
    void TearDown() override {
        for (pid_t pid : targets) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        RunProgram({"rm", "-rf", dir});
    }

    // Starts a native text window (app_id and title `name`) and returns the file mirroring its text.
    std::string startTarget(const std::string& name, const std::string& initial = {}) {
        const std::string out = dir + "/" + name + ".txt";
        std::vector<std::string> args{VARNEL_WAYLAND_TARGET, name, out};
        if (!initial.empty()) {
            args.push_back(initial);
        }
        targets.push_back(Spawn(args));
        EXPECT_TRUE(Eventually([&] { return focus(name); })) << name << " did not appear";
        EXPECT_TRUE(isForeground(name)) << name << " was not activated";
        return out;
    }
    bool focus(const std::string& name) {
        return RunProgram({"swaymsg", "-q", "[app_id=\"^" + name + "$\"]", "focus"}) == 0;
    }
    bool isForeground(const std::string& name) {
        return Eventually([&] {
            const auto fg = windows->foregroundWindow();
            return fg &&
                   (name == OwnAppId ? fg.value() == world.form.handle : windows->title(fg.value()) == name);
        });
    }
    std::string foregroundTitle() {
        const auto fg = windows->foregroundWindow();
        return fg ? windows->title(fg.value()) : std::string{};
    }
    // Activates the window through sway and lets the capture tick see it.
    WindowHandle tickOn(const std::string& name) {
        EXPECT_TRUE(focus(name));
        EXPECT_TRUE(isForeground(name));
        Timer1_Timer(*ctx);
        return world.state.TargetWindow;
    }

    static constexpr const char* OwnAppId = "varnel-own";
    fake::World world;
    SteadyClock clock;
    std::unique_ptr<WaylandWindowSystem> windows;
    std::unique_ptr<WaylandClipboard> clipboard;
    static inline WaylandKeyboard* keyboard = nullptr;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<AppContext> ctx;
    std::string dir;
    std::vector<pid_t> targets;
};

TEST_F(WaylandSession, CapturesTextSetWithWlCopy) {
    const std::uint64_t before = clipboard->changeCount();
    const auto start = Clock::now();
    ASSERT_EQ(RunProgram({"wl-copy", "--", wayland::ToUtf8(Mixed)}), 0);
    ASSERT_TRUE(Eventually([&] { return clipboard->changeCount() != before; }));
    const auto latency = Clock::now() - start;
    ASSERT_TRUE(clipboard->getText());
    EXPECT_EQ(clipboard->getText().value(), Mixed);
    Timer1_Timer(*ctx);
    EXPECT_EQ(world.form.texts[0], Mixed);
    std::printf("capture latency (wl-copy started -> text captured): %.1f ms\n", Ms(latency));

    // Our own text reaches other clients, and clearing empties the clipboard.
    ASSERT_TRUE(clipboard->setText(u"ours: 半角ｶﾅ"));
    EXPECT_EQ(RunProgram({"sh", "-c", "test \"$(wl-paste -n)\" = 'ours: 半角ｶﾅ'"}), 0);
    ASSERT_TRUE(clipboard->clear());
    EXPECT_FALSE(clipboard->hasText().valueOr(true));
}

TEST_F(WaylandSession, FollowsTheTargetAcrossNativeWindowsButNeverOurOwn) {
    startTarget("target-a");
    startTarget("target-b");
    startTarget(OwnAppId);
    const WindowHandle a = tickOn("target-a");
    const WindowHandle b = tickOn("target-b");
    EXPECT_EQ(windows->title(a), "target-a");
    EXPECT_EQ(windows->title(b), "target-b");
    EXPECT_EQ(tickOn(OwnAppId), b);
    EXPECT_TRUE(windows->makeForeground(a));
    EXPECT_TRUE(Eventually([&] { return foregroundTitle() == "target-a"; }));
}

TEST_F(WaylandSession, SendsByPasteAndByKeysIntoANativeWindow) {
    const std::string out = startTarget("paste-target");
    startTarget("other");
    world.state.TargetWindow = tickOn("paste-target");
    ASSERT_TRUE(focus("other") && isForeground("other"));  // the user moved on; the target stays
    world.form1.LastClipboardText = u"last";

    world.state.SendMode = SendByPaste;
    world.form.texts[0] = Mixed;
    auto start = Clock::now();
    Command4_Click(*ctx, 1);
    const auto pasteTime = Clock::now() - start;
    EXPECT_TRUE(Eventually([&] { return ReadFile(out) == wayland::ToUtf8(Mixed); })) << ReadFile(out);
    const auto pasteShown = Clock::now() - start;
    EXPECT_EQ(clipboard->getText().valueOr(u""), u"last");  // the clipboard got its text back

    // Keys: a line break and more distinct characters than one keymap holds.
    std::u16string typed = u"\r\n" + Mixed + u"\t";
    for (char16_t c = 0x4E00; c < 0x4E00 + 300; ++c) {
        typed += c;
    }
    world.state.SendMode = SendByKeystrokes;
    world.form.texts[1] = typed;
    ASSERT_TRUE(focus("other") && isForeground("other"));
    start = Clock::now();
    Command4_Click(*ctx, 2);
    const auto typeTime = Clock::now() - start;
    std::u16string expected = Mixed + u"\n" + typed.substr(2);
    EXPECT_TRUE(Eventually([&] { return ReadFile(out) == wayland::ToUtf8(expected); }, milliseconds(10000)))
        << ReadFile(out);
    const auto typeShown = Clock::now() - start;
    EXPECT_EQ(keyboard->lastKeymapCount(), 2);
    // The text has 333 characters (one is a surrogate pair): 334 UTF-16 units less the CR of CR LF.
    std::printf(
        "paste: click -> handler done %.1f ms, -> target shows the text %.1f ms\n"
        "typing 333 characters (2 keymaps): click -> keys sent %.1f ms, -> target shows them %.1f ms "
        "(%.0f characters/s)\n",
        Ms(pasteTime), Ms(pasteShown), Ms(typeTime), Ms(typeShown), 333 / (Ms(typeShown) / 1000.0));
}

TEST_F(WaylandSession, ConvertsTheSelectionOfANativeWindow) {
    const std::u16string initial = u"abc ｶﾀｶﾅ xyz";
    const std::string out = startTarget("convert-target", wayland::ToUtf8(initial));
    startTarget("other");
    world.state.TargetWindow = tickOn("convert-target");
    ASSERT_TRUE(focus("other") && isForeground("other"));
    world.state.SendMode = SendByPaste;
    Command2_Click(*ctx, 1);  // wide
    const std::u16string expected = ConvertText(initial, ConversionKind::WideConversion);
    ASSERT_NE(expected, initial);
    EXPECT_TRUE(Eventually([&] { return ReadFile(out) == wayland::ToUtf8(expected); })) << ReadFile(out);
}

}  // namespace
}  // namespace varnel
