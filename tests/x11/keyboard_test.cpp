// The XTest keyboard against a real Tk text widget under Xvfb + openbox.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/Utf8.h"
#include "platform/keysyms/Keysyms.h"
#include "platform/x11/X11Keyboard.h"

// Last: Xlib defines macros (Status, Bool, None) that clash with the code above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Status

extern char** environ;

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

// What a Tk text widget holds after the text is typed: CR and LF are both typed as Return, a line break.
std::string inTk(std::u16string text) {
    for (char16_t& c : text) {
        c = c == u'\r' ? u'\n' : c;
    }
    return EncodeUtf8(text);
}

// The keyboard_target.tcl script in wish, talked to over pipes.
class TkTarget {
  public:
    TkTarget() : title_("varnel-keys-" + std::to_string(getpid())) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]}) {
            posix_spawn_file_actions_addclose(&actions, fd);
        }
        const std::string script = std::string(VARNEL_X11_TEST_DIR) + "/keyboard_target.tcl";
        std::vector<char*> argv{const_cast<char*>("wish"), const_cast<char*>(script.c_str()),
                                const_cast<char*>(title_.c_str()), nullptr};
        if (posix_spawnp(&pid_, "wish", &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toWish_ = in[1];
        fromWish_ = out[0];
    }
    ~TkTarget() {
        close(toWish_);  // the script exits at the end of its input
        for (int i = 0; i < 100 && pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(fromWish_);
    }

    // Tried up to three times: right after the focus window of another test went away, xdotool's
    // activation now and then fails at once (seen under load).
    bool activate() const {
        const std::string command = "timeout 20 xdotool search --sync --name '^" + title_ +
                                    "$' windowactivate --sync >/dev/null 2>&1";
        for (int attempt = 0; pid_ > 0 && attempt < 3; ++attempt) {
            if (std::system(command.c_str()) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    // One command and its answer; empty with ok false when wish does not answer within 5 s.
    std::string ask(const std::string& command, bool* ok = nullptr) {
        const std::string line = command + "\n";
        bool good = write(toWish_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        std::string header, body;
        while (good && (header.empty() || header.back() != '\n')) {
            good = readByte(&header);
        }
        const std::size_t length = good ? std::stoul(header) : 0;
        while (good && body.size() < length) {
            good = readByte(&body);
        }
        if (ok != nullptr) {
            *ok = good;
        }
        return body;
    }
    // Waits until the content equals expected or stops changing for 3 s; returns the last content. Polls
    // the cheap character count and reads the content only when the count is there.
    std::string waitFor(const std::string& expected) {
        std::u16string units;  // Tk 8.6 counts a character outside the BMP as two
        DecodeUtf8(expected, units, Utf8Errors::Replace);
        std::string count, content;
        auto changed = Clock::now();
        for (;;) {
            std::string now = ask("count");
            if (now != count) {
                changed = Clock::now();
                count = now;
            }
            const bool stalled = Clock::now() - changed > std::chrono::seconds(3);
            if (count == std::to_string(units.size()) || stalled) {
                content = ask("dump");
                if (content == expected || stalled) {
                    return content;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

  private:
    bool readByte(std::string* into) {
        pollfd p{fromWish_, POLLIN, 0};
        char c;
        if (poll(&p, 1, 5000) != 1 || read(fromWish_, &c, 1) != 1) {
            return false;
        }
        *into += c;
        return true;
    }

    std::string title_;
    pid_t pid_ = -1;
    int toWish_ = -1;
    int fromWish_ = -1;
};

// Our own look at the server: the core keymap, held keys, Caps Lock.
struct Server {
    Display* display = XOpenDisplay(nullptr);
    ~Server() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
    std::vector<KeySym> keymap() const {
        int min = 0, max = 0, per = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
        std::vector<KeySym> all(syms, syms + (max - min + 1) * per);
        XFree(syms);
        return all;
    }
    // The whole XKB keymap as xkbcomp writes it out.
    static std::string xkbKeymap() {
        std::string text;
        if (FILE* pipe = popen("xkbcomp -xkb \"$DISPLAY\" - 2>/dev/null", "r")) {
            char buffer[4096];
            for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                text.append(buffer, n);
            }
            pclose(pipe);
        }
        return text;
    }
    int lockedGroup() const {
        XkbStateRec state{};
        XkbGetState(display, XkbUseCoreKbd, &state);
        return state.locked_group;
    }
    int keysDown() const {
        char keys[32];
        XQueryKeymap(display, keys);
        int down = 0;
        for (char byte : keys) {
            down += __builtin_popcount(static_cast<unsigned char>(byte));
        }
        return down;
    }
    // The record a typing keeps on the root window while it changes the keyboard, as it is stored.
    struct Record {
        Atom type = 0;
        int format = 0;
        std::vector<long> data;
    };
    Record typingRecord() const {
        Record record;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, DefaultRootWindow(display), recordAtom(), 0, 1 << 16, False,
                           AnyPropertyType, &record.type, &record.format, &count, &after, &data);
        if (data != nullptr && record.format == 32) {
            record.data.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return record;
    }
    bool hasTypingRecord() const { return typingRecord().type != 0; }
    void putTypingRecord(const Record& record) const {
        XChangeProperty(display, DefaultRootWindow(display), recordAtom(), record.type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(record.data.data()),
                        static_cast<int>(record.data.size()));
        XSync(display, False);
    }
    void deleteTypingRecord() const {
        XDeleteProperty(display, DefaultRootWindow(display), recordAtom());
        XSync(display, False);
    }
    Atom recordAtom() const { return XInternAtom(display, "_VARNEL_KEYMAP_JOURNAL", False); }
    // The keycode whose first column holds sym in the given keymap, or 0.
    KeyCode keycodeHolding(const std::vector<KeySym>& keymap, KeySym sym) const {
        int min = 0, max = 0;
        XDisplayKeycodes(display, &min, &max);
        const std::size_t per = keymap.size() / static_cast<std::size_t>(max - min + 1);
        for (std::size_t i = 0; i < keymap.size(); i += per) {
            if (keymap[i] == sym) {
                return static_cast<KeyCode>(min + static_cast<int>(i / per));
            }
        }
        return 0;
    }
    bool capsLock() const {
        XkbStateRec state{};
        XkbGetState(display, XkbUseCoreKbd, &state);
        return (state.locked_mods & LockMask) != 0;
    }
};

// A deterministic mixed text of exactly length UTF-16 units: ASCII words with the key-notation
// characters, CR LF line breaks, tabs, hiragana, katakana, kanji and half-width katakana.
std::u16string mixedText(std::size_t length) {
    const std::vector<std::u16string> pieces{u"Hello, World! ",
                                             u"1+1=2 ",
                                             u"^{INSERT}%~(a)[b]{c} ",
                                             u"\r\n",
                                             u"\t",
                                             u"\"#$&'*,-./:;<=>?@\\_`| ",
                                             u"こんにちは、世界。",
                                             u"ひらがなとカタカナ ",
                                             u"カタカナのテキスト",
                                             u"漢字変換の試験文章",
                                             u"ﾊﾝｶｸｶﾀｶﾅﾃﾞｽ ",
                                             u"東京都千代田区丸の内一丁目",
                                             u"ぁぃぅぇぉゃゅょっゎゐゑをん",
                                             u"ヴァヵヶー・「」『』【】",
                                             u"¥£§×÷ ",
                                             u"日本語入力の確認。",
                                             u"ｱｲｳｴｵｧｨｩｪｫｬｭｮｯｰﾞﾟ ",
                                             u"\r\n\t"};
    std::u16string text;
    unsigned seed = 12345;
    while (text.size() < length) {
        seed = seed * 1103515245u + 12345u;
        text += pieces[(seed >> 16) % pieces.size()];
    }
    text.resize(length);
    return text;
}

std::u16string asciiText(std::size_t length) {
    std::u16string text;
    for (std::size_t i = 0; text.size() < length; ++i) {
        text += static_cast<char16_t>(0x20 + (i * 7) % 95);  // every printable character, in a shuffled order
    }
    return text;
}

// Distinct kanji: every character needs a spare keycode, length / 76 remaps in all.
std::u16string kanjiText(std::size_t length) {
    std::u16string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += static_cast<char16_t>(0x4E00 + (i * 7) % 20000);
    }
    return text;
}

// The window manager run-with-xvfb.sh started next to this program (as its child, or its grandchild
// through dbus-run-session): its pid, or 0.
int windowManagerPid() {
    const char* chosen = std::getenv("VARNEL_E2E_WM");
    const std::string wanted = "(" + std::string(chosen != nullptr ? chosen : "openbox") + ")";
    const std::string parent = std::to_string(getppid());
    const auto parentOf = [](const std::string& pid, std::string* name) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string self, state, ppid;
        return stat >> self >> *name >> state >> ppid ? ppid : std::string();
    };
    for (int pid = 1; pid < 1 << 22; ++pid) {
        std::string name, ignored;
        const std::string ppid = parentOf(std::to_string(pid), &name);
        if (name == wanted && (ppid == parent || (!ppid.empty() && parentOf(ppid, &ignored) == parent))) {
            return pid;
        }
    }
    return 0;
}

double cpuSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i >= 14) {
            ticks += std::stol(field);  // utime + stime
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Waits (at most 10 s) until the process used no CPU for 300 ms.
void waitUntilIdle(int pid) {
    double last = -1;
    for (int i = 0; i < 33 && pid != 0; ++i) {
        const double now = cpuSeconds(pid);
        if (now == last) {
            return;
        }
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

class KeyboardTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string why;
        keyboard = X11Keyboard::open(&why);
        ASSERT_NE(keyboard, nullptr) << why;
        target = std::make_unique<TkTarget>();
    }
    static void TearDownTestSuite() {
        target.reset();
        keyboard.reset();
    }
    void SetUp() override {
        ASSERT_NE(server.display, nullptr);
        ASSERT_TRUE(target->activate());
        bool ok = false;
        ASSERT_EQ(target->ask("clear", &ok), "ok");
    }

    // Types text and returns what arrived, checking that the keymap is left as found and no key held.
    std::string typeAndRead(const std::u16string& text) { return typeAndRead(text, inTk(text)); }
    std::string typeAndRead(const std::u16string& text, const std::string& expected,
                            const Keyboard::BetweenSlices& betweenSlices = {}) {
        const std::vector<KeySym> before = server.keymap();
        const std::string xkbBefore = Server::xkbKeymap();
        const int groupBefore = server.lockedGroup();
        const Status status = keyboard->typeText(text, betweenSlices);
        EXPECT_TRUE(status.ok()) << status.error();
        EXPECT_TRUE(keyboard->waitUntilSent().ok());
        EXPECT_EQ(server.keymap(), before);
        EXPECT_FALSE(xkbBefore.empty());
        EXPECT_TRUE(Server::xkbKeymap() == xkbBefore) << "the XKB keymap differs after typing";
        EXPECT_EQ(server.lockedGroup(), groupBefore);
        EXPECT_EQ(server.keysDown(), 0);
        EXPECT_FALSE(server.hasTypingRecord());
        return target->waitFor(expected);
    }

    static inline std::unique_ptr<X11Keyboard> keyboard;
    static inline std::unique_ptr<TkTarget> target;
    Server server;
};

TEST(KeysymsFor, MapsEveryCharacterToTheKeysymThatTypesIt) {
    // Tab, CR, LF, space, tilde, DEL, NBSP, y-diaeresis, あ, ｱ, U+1F600 as a pair, then broken surrogates:
    // a lone low, a low before a high, a high before a high, a high before 'A', and a high at the end.
    const std::u16string text{0x09,   0x0D,   0x0A,   0x20,   0x7E,   0x7F,   0xA0,   0xFF, 0x3042,
                              0xFF71, 0xD83D, 0xDE00, 0xDC00, 0xDE00, 0xD83D, 0xD800, 0x41, 0xD800};
    const std::vector<std::uint32_t> expected{
        0xFF09,    0xFF0D,    0xFF0D,    0x20,      0x7E,      0x100007F, 0xA0, 0xFF,     0x1003042,
        0x100FF71, 0x101F600, 0x100FFFD, 0x100FFFD, 0x100FFFD, 0x100FFFD, 0x41, 0x100FFFD};
    EXPECT_EQ(KeysymsFor(text), expected);
}

TEST(CoreKeycodeRange, KeepsToTheKeycodesACoreMappingChangeAccepts) {
    auto range = [](int min, int max) {
        const X11Keyboard::KeycodeRange r = X11Keyboard::coreKeycodeRange(min, max);
        return std::make_pair(r.first, r.last);
    };
    EXPECT_EQ(range(8, 255), std::make_pair(8, 255));
    EXPECT_EQ(range(8, 708), std::make_pair(8, 255));  // XWayland's keymap
    EXPECT_EQ(range(0, 300), std::make_pair(8, 255));
    EXPECT_EQ(range(97, 120), std::make_pair(97, 120));
    const auto none = range(300, 708);
    EXPECT_GT(none.first, none.second);
}

TEST(X11KeyboardOpen, ReportsAMissingDisplayWithoutEndingTheProcess) {
    const std::string display = getenv("DISPLAY") != nullptr ? getenv("DISPLAY") : "";
    setenv("DISPLAY", ":4095", 1);
    std::string why;
    EXPECT_EQ(X11Keyboard::open(&why), nullptr);
    EXPECT_FALSE(why.empty());
    setenv("DISPLAY", display.c_str(), 1);
}

TEST_F(KeyboardTest, MixedTextArrivesExactlyThroughBatchedRemaps) {
    const std::u16string text = mixedText(2000);
    EXPECT_EQ(typeAndRead(text), inTk(text));
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    EXPECT_GT(stats.remappedCharacters, 500);
    // Xvfb's keymap has a Level3 shift and leaves 19 keycodes free: with two groups of four levels each
    // its 104 distinct characters need one batch, and one restore.
    EXPECT_EQ(stats.levelsPerKeycode, 4);
    EXPECT_EQ(stats.groupsPerKeycode, 2);
    EXPECT_LE(stats.keymapChanges, 2);
    EXPECT_TRUE(stats.targetAnswered);  // Tk answers pings: it paced the batches
}

TEST_F(KeyboardTest, ManyDistinctKanjiTakeFourGroupsPerSpareKeycodeAndFewKeymapChanges) {
    const std::u16string kanji = kanjiText(1000);
    EXPECT_EQ(typeAndRead(kanji), inTk(kanji));
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    EXPECT_EQ(stats.groupsPerKeycode, 4);
    EXPECT_GT(stats.groupSwitches, 0);
    // 19 spare keycodes carry 304 characters: four batches, and one restore.
    EXPECT_LE(stats.keymapChanges, 5);
}

// Locks group 1 back whenever another client locks another group, as a desktop component that manages
// the keyboard layout does (mutter).
class LayoutKeeper {
  public:
    LayoutKeeper() {
        XkbQueryExtension(own_.display, nullptr, &xkbEvent_, nullptr, nullptr, nullptr);
        XkbSelectEventDetails(own_.display, XkbUseCoreKbd, XkbStateNotify, XkbGroupLockMask,
                              XkbGroupLockMask);
        XSync(own_.display, False);
        thread_ = std::thread([this] { run(); });
    }
    ~LayoutKeeper() {
        done_ = true;
        thread_.join();
    }
    int lockedBack() const { return lockedBack_; }

  private:
    void run() {
        while (!done_) {
            pollfd fd{ConnectionNumber(own_.display), POLLIN, 0};
            poll(&fd, 1, 10);
            while (XPending(own_.display) > 0) {
                XkbEvent event;
                XNextEvent(own_.display, &event.core);
                if (event.type == xkbEvent_ && event.any.xkb_type == XkbStateNotify &&
                    event.state.locked_group != 0) {
                    XkbLockGroup(own_.display, XkbUseCoreKbd, 0);
                    XFlush(own_.display);
                    ++lockedBack_;
                }
            }
        }
    }
    Server own_;
    int xkbEvent_ = 0;
    std::atomic<bool> done_{false};
    std::atomic<int> lockedBack_{0};
    std::thread thread_;
};

TEST_F(KeyboardTest, CharactersOnOtherGroupsArriveExactlyWhileALayoutManagerLocksItsGroupBack) {
    const std::u16string text = mixedText(600) + kanjiText(600);
    LayoutKeeper keeper;
    EXPECT_EQ(typeAndRead(text), inTk(text));
    EXPECT_GT(keyboard->lastTypingStats().groupSwitches, 0);
    EXPECT_GT(keeper.lockedBack(), 0);
}

TEST_F(KeyboardTest, TheCallersHookStopsALongTypingAndTheKeyboardIsLeftAsFound) {
    const std::u16string kanji = kanjiText(3000);
    int slices = 0;
    const auto hook = [&] {
        EXPECT_EQ(server.keysDown(), 0);
        return ++slices < 4;
    };
    // What arrived is the start of the text, as many characters as were typed.
    const std::string arrived = typeAndRead(kanji, inTk(kanji), hook);
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    EXPECT_TRUE(stats.stopped);
    EXPECT_EQ(slices, 4);
    ASSERT_GT(stats.typedCharacters, 0);
    ASSERT_LT(stats.typedCharacters, 3000);
    EXPECT_EQ(arrived, inTk(kanji.substr(0, static_cast<std::size_t>(stats.typedCharacters))));
}

TEST_F(KeyboardTest, KeysHeldBackByAnotherClientsGrabArriveIntactAfterIt) {
    // A window manager's click-to-focus grab freezes the keyboard until it has dealt with the click:
    // the keys typed meanwhile wait in the server, while a ping to the target does not. Here a pointer
    // grab with a synchronous keyboard freezes it for 300 ms, from the second slice on.
    const std::u16string kanji = kanjiText(3000);
    Server grabber;
    std::future<void> thaw;
    int slices = 0;
    const auto hook = [&] {
        if (++slices == 2) {
            EXPECT_EQ(XGrabPointer(grabber.display, DefaultRootWindow(grabber.display), False,
                                   ButtonPressMask, GrabModeAsync, GrabModeSync, 0, 0, CurrentTime),
                      GrabSuccess);
            XSync(grabber.display, False);
            thaw = std::async(std::launch::async, [&grabber] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                XUngrabPointer(grabber.display, CurrentTime);
                XSync(grabber.display, False);
            });
        }
        return slices < 8;
    };
    const std::string arrived = typeAndRead(kanji, inTk(kanji), hook);
    thaw.wait();
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    EXPECT_TRUE(stats.heldBack);
    EXPECT_TRUE(stats.stopped);
    ASSERT_GT(stats.typedCharacters, 0);
    const std::string expected = inTk(kanji.substr(0, static_cast<std::size_t>(stats.typedCharacters)));
    const auto differ = std::mismatch(arrived.begin(), arrived.end(), expected.begin(), expected.end());
    EXPECT_TRUE(arrived == expected) << "the first " << stats.typedCharacters << " characters expected, "
                                     << arrived.size() << " bytes arrived, the first "
                                     << differ.first - arrived.begin() << " of them right";
}

TEST_F(KeyboardTest, TypingStopsWhenTheFocusGoesToAnotherClient) {
    Server other;
    const Window window =
        XCreateSimpleWindow(other.display, DefaultRootWindow(other.display), 0, 0, 50, 50, 0, 0, 0);
    XMapWindow(other.display, window);
    XWindowAttributes attributes{};
    for (int i = 0; i < 200 && attributes.map_state != IsViewable; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        XGetWindowAttributes(other.display, window, &attributes);
    }
    ASSERT_TRUE(target->activate());
    const std::u16string kanji = kanjiText(3000);
    int slices = 0;
    const auto hook = [&] {
        if (++slices == 2) {
            XSetInputFocus(other.display, window, RevertToParent, CurrentTime);
            XSync(other.display, False);
        }
        return true;
    };
    const std::string arrived = typeAndRead(kanji, inTk(kanji), hook);
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    EXPECT_TRUE(stats.stopped);
    EXPECT_EQ(slices, 2);
    ASSERT_GT(stats.typedCharacters, 0);
    EXPECT_TRUE(arrived == inTk(kanji.substr(0, static_cast<std::size_t>(stats.typedCharacters))));
    XDestroyWindow(other.display, window);
    XSync(other.display, False);
}

TEST_F(KeyboardTest, AButtonPressedOutsideTheTargetStopsTypingWhileAGrabHoldsTheClickBack) {
    // A click-to-focus window manager's synchronous button grab: the press is taken, the pointer frozen,
    // and nobody else hears of the click until the grabbing client lets it go. Here the press is over a
    // window beside the target and held back until the typing is over.
    Server other;
    XSetWindowAttributes unmanaged{};
    unmanaged.override_redirect = True;
    const Window beside =
        XCreateWindow(other.display, DefaultRootWindow(other.display), 0, 0, 20, 20, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &unmanaged);
    XMapRaised(other.display, beside);
    ASSERT_EQ(XGrabButton(other.display, Button1, AnyModifier, DefaultRootWindow(other.display), False,
                          ButtonPressMask | ButtonReleaseMask, GrabModeSync, GrabModeAsync, 0, 0),
              1);
    XSync(other.display, False);
    const std::u16string kanji = kanjiText(3000);
    int slices = 0;
    const auto hook = [&] {
        if (++slices == 2) {
            XWarpPointer(other.display, 0, beside, 0, 0, 0, 0, 10, 10);
            XTestFakeButtonEvent(other.display, Button1, True, CurrentTime);
            XSync(other.display, False);
        }
        return true;
    };
    const std::string arrived = typeAndRead(kanji, inTk(kanji), hook);
    const X11Keyboard::TypingStats stats = keyboard->lastTypingStats();
    XTestFakeButtonEvent(other.display, Button1, False, CurrentTime);
    XAllowEvents(other.display, AsyncPointer, CurrentTime);
    XUngrabButton(other.display, Button1, AnyModifier, DefaultRootWindow(other.display));
    XDestroyWindow(other.display, beside);
    XSync(other.display, False);
    EXPECT_TRUE(stats.stopped);
    EXPECT_LE(slices, 3);
    ASSERT_GT(stats.typedCharacters, 0);
    EXPECT_TRUE(arrived == inTk(kanji.substr(0, static_cast<std::size_t>(stats.typedCharacters))));
}

TEST_F(KeyboardTest, ATargetThatNeverAnswersPingsIsPacedByFixedWaits) {
    // A window of our own connection has the focus; nothing on it answers a _NET_WM_PING.
    const Window silent =
        XCreateSimpleWindow(server.display, DefaultRootWindow(server.display), 0, 0, 50, 50, 0, 0, 0);
    XMapWindow(server.display, silent);
    XWindowAttributes attributes{};
    for (int i = 0; i < 200 && attributes.map_state != IsViewable; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        XGetWindowAttributes(server.display, silent, &attributes);
    }
    XSetInputFocus(server.display, silent, RevertToParent, CurrentTime);
    XSync(server.display, False);
    const std::vector<KeySym> before = server.keymap();
    EXPECT_TRUE(keyboard->typeText(u"あいう").ok());
    EXPECT_FALSE(keyboard->lastTypingStats().targetAnswered);
    EXPECT_EQ(keyboard->lastTypingStats().typedCharacters, 3);
    EXPECT_EQ(server.keymap(), before);
    XDestroyWindow(server.display, silent);
    XSync(server.display, False);
}

TEST_F(KeyboardTest, AnXimServerThatNeverAnswersIsGivenFixedWaitsAndTypingGoesOn) {
    // A server named in XMODIFIERS and listed on the root window, which reads nothing.
    Display* display = server.display;
    const Window root = DefaultRootWindow(display);
    const Window silent = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom name = XInternAtom(display, "@server=varnel-silent", False);
    const Atom servers = XInternAtom(display, "XIM_SERVERS", False);
    XSetSelectionOwner(display, name, silent, CurrentTime);
    XChangeProperty(display, root, servers, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&name), 1);
    XSync(display, False);
    setenv("XMODIFIERS", "@im=varnel-silent", 1);
    EXPECT_EQ(typeAndRead(u"aあい"), inTk(u"aあい"));
    EXPECT_TRUE(keyboard->lastTypingStats().ximServer);
    EXPECT_TRUE(keyboard->lastTypingStats().ximSilent);
    unsetenv("XMODIFIERS");
    XDeleteProperty(display, root, servers);
    XDestroyWindow(display, silent);
    XSync(display, False);
}

TEST_F(KeyboardTest, AsciiTextArrivesExactlyWithoutTouchingTheKeymap) {
    const std::u16string text = asciiText(2000);
    EXPECT_EQ(typeAndRead(text), inTk(text));
    EXPECT_EQ(keyboard->lastTypingStats().keymapChanges, 0);
}

TEST_F(KeyboardTest, CharactersOutsideTheBmpAndBrokenSurrogates) {
    // Tk 8.6 keeps a character outside the BMP as a surrogate pair and hands it back as UTF-8 of the
    // code point; an unpaired surrogate arrives as U+FFFD.
    const std::u16string text = u"a\U0001F600b\U00020B9Fc";
    EXPECT_EQ(typeAndRead(text), inTk(text));
    target->ask("clear");
    EXPECT_EQ(typeAndRead(std::u16string{u'x', 0xD800, u'y'}, "x\xEF\xBF\xBDy"), "x\xEF\xBF\xBDy");
}

TEST_F(KeyboardTest, WaitsForHeldModifiersAndTypesAsIfNoneWereHeld) {
    ASSERT_EQ(std::system("xdotool keydown Shift_L"), 0);
    auto releaser = std::async(std::launch::async, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return std::system("xdotool keyup Shift_L");
    });
    const auto start = Clock::now();
    EXPECT_EQ(typeAndRead(u"abc"), "abc");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(350));
    EXPECT_EQ(releaser.get(), 0);
    EXPECT_FALSE(keyboard->lastTypingStats().modifiersStillHeld);
}

TEST_F(KeyboardTest, CapsLockDoesNotChangeTheCaseAndIsLeftOn) {
    ASSERT_EQ(std::system("xdotool key Caps_Lock"), 0);
    ASSERT_TRUE(server.capsLock());
    EXPECT_EQ(typeAndRead(u"aB cD"), "aB cD");
    EXPECT_TRUE(server.capsLock());
    ASSERT_EQ(std::system("xdotool key Caps_Lock"), 0);
}

TEST_F(KeyboardTest, ShiftInsertAndCtrlInsertArriveAsThoseChords) {
    auto chord = [] {
        std::string seen = target->ask("chord");
        for (int i = 0; i < 100 && seen == "none"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = target->ask("chord");
        }
        target->ask("clear");
        return seen;
    };
    ASSERT_TRUE(keyboard->pressPasteKey().ok());
    EXPECT_EQ(chord(), "shift-insert");
    ASSERT_TRUE(keyboard->pressCopyKey().ok());
    EXPECT_EQ(chord(), "ctrl-insert");
    EXPECT_EQ(server.keysDown(), 0);
}

TEST_F(KeyboardTest, WithoutSpareKeycodesTypesNothingAndSaysSo) {
    // Fill every empty keycode for the duration.
    const std::vector<KeySym> before = server.keymap();
    int min = 0, max = 0;
    XDisplayKeycodes(server.display, &min, &max);
    const int per = static_cast<int>(before.size()) / (max - min + 1);
    std::vector<KeySym> filled = before;
    for (int k = 0; k <= max - min; ++k) {
        if (std::all_of(filled.begin() + k * per, filled.begin() + (k + 1) * per,
                        [](KeySym s) { return s == 0; })) {
            filled[static_cast<std::size_t>(k * per)] = XK_F35;
        }
    }
    XChangeKeyboardMapping(server.display, min, per, filled.data(), max - min + 1);
    XSync(server.display, False);
    const Status status = keyboard->typeText(u"aあ");
    XChangeKeyboardMapping(server.display, min, per, const_cast<KeySym*>(before.data()), max - min + 1);
    XSync(server.display, False);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(target->waitFor(""), "");
}

TEST_F(KeyboardTest, AFailedTypingThatGaveEverythingBackLeavesNoRecordOfIt) {
    // A grab freezing the keyboard beyond the bound fails the typing; the spare keycodes and Caps Lock
    // still go back, so nothing is left for the next start to redo (Caps Lock switched on days later).
    X11Keyboard::Options options;
    options.heldBackBound = std::chrono::milliseconds(100);
    std::string why;
    const std::unique_ptr<X11Keyboard> impatient = X11Keyboard::open(&why, options);
    ASSERT_NE(impatient, nullptr) << why;
    ASSERT_EQ(std::system("xdotool key Caps_Lock"), 0);
    const std::vector<KeySym> before = server.keymap();
    Server grabber;
    ASSERT_EQ(XGrabPointer(grabber.display, DefaultRootWindow(grabber.display), False, ButtonPressMask,
                           GrabModeAsync, GrabModeSync, 0, 0, CurrentTime),
              GrabSuccess);
    XSync(grabber.display, False);
    const Status status = impatient->typeText(u"aあ");
    XUngrabPointer(grabber.display, CurrentTime);
    XSync(grabber.display, False);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(server.keymap(), before);
    EXPECT_TRUE(server.capsLock());
    EXPECT_FALSE(server.hasTypingRecord());
    ASSERT_EQ(std::system("xdotool key Caps_Lock"), 0);
}

TEST_F(KeyboardTest, ARecordWrittenByAnotherClientIsNotActedOnAtStart) {
    // The layout the record once had, naming the a key with its own keysyms and Caps Lock switched off.
    const long a = XKeysymToKeycode(server.display, XK_a);
    server.putTypingRecord({XA_CARDINAL, 32, {0x56524E4C, 1, 2, 0, 0, a, 0, 0, XK_a, XK_A}});
    const std::vector<KeySym> before = server.keymap();
    ASSERT_FALSE(server.capsLock());
    std::string why;
    const std::unique_ptr<X11Keyboard> starting = X11Keyboard::open(&why);
    ASSERT_NE(starting, nullptr) << why;
    EXPECT_EQ(server.keymap(), before);
    EXPECT_FALSE(server.capsLock());
    server.deleteTypingRecord();
}

TEST_F(KeyboardTest, AKilledTypingIsUndoneAtTheNextStartButNotOnAKeycodeChangedSince) {
    // A typing in a child process, killed once its spare keycode holds あ.
    constexpr KeySym hiraganaA = 0x1003042;
    const std::vector<KeySym> before = server.keymap();
    const pid_t child = fork();
    if (child == 0) {
        X11Keyboard::Options options;
        options.slice = std::chrono::milliseconds(0);
        const std::unique_ptr<X11Keyboard> typing = X11Keyboard::open(nullptr, options);
        const Server own;
        const auto killed = [&own] {
            if (own.keycodeHolding(own.keymap(), hiraganaA) != 0) {
                _exit(0);
            }
            return true;
        };
        if (typing != nullptr) {
            static_cast<void>(typing->typeText(u"aあ", killed));  // killed while it types
        }
        _exit(1);
    }
    int exit = -1;
    ASSERT_EQ(waitpid(child, &exit, 0), child);
    ASSERT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
    const KeyCode spare = server.keycodeHolding(server.keymap(), hiraganaA);
    ASSERT_NE(spare, 0);
    const Server::Record record = server.typingRecord();
    auto startsUp = [] { return X11Keyboard::open(nullptr) != nullptr; };
    ASSERT_TRUE(startsUp());
    EXPECT_EQ(server.keymap(), before);
    EXPECT_FALSE(server.hasTypingRecord());

    // The same record again, but since then another client has given that keycode an あ of its own.
    KeySym own = hiraganaA;
    XChangeKeyboardMapping(server.display, spare, 1, &own, 1);
    server.putTypingRecord(record);
    const std::vector<KeySym> mapped = server.keymap();
    ASSERT_TRUE(startsUp());
    EXPECT_EQ(server.keymap(), mapped);
    own = NoSymbol;
    XChangeKeyboardMapping(server.display, spare, 1, &own, 1);
    server.deleteTypingRecord();
}

TEST_F(KeyboardTest, AKilledTypingThatLockedAnotherGroupHasTheGroupGivenBackAtTheNextStart) {
    const std::vector<KeySym> before = server.keymap();
    const pid_t child = fork();
    if (child == 0) {
        X11Keyboard::Options options;
        options.slice = std::chrono::milliseconds(0);
        const std::unique_ptr<X11Keyboard> typing = X11Keyboard::open(nullptr, options);
        const auto killed = [&typing] {
            if (typing->lastTypingStats().groupSwitches > 0) {
                _exit(0);
            }
            return true;
        };
        if (typing != nullptr) {
            static_cast<void>(typing->typeText(kanjiText(200), killed));  // killed while it types
        }
        _exit(1);
    }
    int exit = -1;
    ASSERT_EQ(waitpid(child, &exit, 0), child);
    ASSERT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
    // Killed inside its server grab, it leaves its group locked.
    XkbLockGroup(server.display, XkbUseCoreKbd, 2);
    ASSERT_EQ(server.lockedGroup(), 2);
    std::string why;
    const std::unique_ptr<X11Keyboard> starting = X11Keyboard::open(&why);
    ASSERT_NE(starting, nullptr) << why;
    EXPECT_EQ(server.lockedGroup(), 0);
    EXPECT_EQ(server.keymap(), before);
    EXPECT_FALSE(server.hasTypingRecord());
}

TEST_F(KeyboardTest, OneKeyboardTypesAtATimeAndOneThatLosesTheTypingLockStops) {
    std::string why;
    const std::unique_ptr<X11Keyboard> second = X11Keyboard::open(&why);
    ASSERT_NE(second, nullptr) << why;
    Server thief;
    const Window window =
        XCreateSimpleWindow(thief.display, DefaultRootWindow(thief.display), 0, 0, 1, 1, 0, 0, 0);
    Status secondTyping = Status::success();
    int slices = 0;
    const auto hook = [&] {
        if (++slices == 2) {
            secondTyping = second->typeText(u"あ");
            // A client that does not wait its turn takes the lock.
            XSetSelectionOwner(thief.display, XInternAtom(thief.display, "_VARNEL_TYPING", False), window,
                               CurrentTime);
            XSync(thief.display, False);
        }
        return true;
    };
    const std::vector<KeySym> before = server.keymap();
    const Status status = keyboard->typeText(kanjiText(3000), hook);
    EXPECT_FALSE(secondTyping.ok());
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(slices, 2);
    EXPECT_EQ(server.keymap(), before);
    EXPECT_FALSE(server.hasTypingRecord());
    EXPECT_EQ(server.keysDown(), 0);
}

// Figures, not a check: run by bench/typing_bench.sh (10 runs of each text).
TEST_F(KeyboardTest, DISABLED_Timing) {
    const int wm = windowManagerPid();
    // An ordinary client next to the target (the benchmark starts an xterm and names its pid): what a
    // keymap change costs every other program on the desktop.
    const char* bystanderPid = std::getenv("VARNEL_BENCH_BYSTANDER_PID");
    const int bystander = bystanderPid != nullptr ? std::atoi(bystanderPid) : 0;
    // VARNEL_BENCH_ONE_GROUP=1: the spare keycodes carry one keyboard group only, for comparison.
    const char* oneGroup = std::getenv("VARNEL_BENCH_ONE_GROUP");
    std::unique_ptr<X11Keyboard> oneGroupKeyboard;
    if (oneGroup != nullptr && std::string(oneGroup) == "1") {
        X11Keyboard::Options options;
        options.extraGroups = false;
        oneGroupKeyboard = X11Keyboard::open(nullptr, options);
        ASSERT_NE(oneGroupKeyboard, nullptr);
    }
    X11Keyboard& typing = oneGroupKeyboard ? *oneGroupKeyboard : *keyboard;
    struct Kind {
        const char* name;
        std::u16string text;
    };
    const std::u16string kanji = kanjiText(3000);
    for (const Kind& kind :
         {Kind{"mixed", mixedText(2000)}, Kind{"ascii", asciiText(2000)}, Kind{"kanji", kanji}}) {
        int exact = 0;
        double seconds = 0, callSeconds = 0, wmSeconds = 0, bystanderSeconds = 0, longestSlice = 0;
        int changes = 0, batches = 0, switches = 0, paced = 0, exactPaced = 0;
        const int runs = 10;
        for (int run = 0; run < runs; ++run) {
            ASSERT_EQ(target->ask("clear"), "ok");
            waitUntilIdle(wm);
            waitUntilIdle(bystander);
            const double wmBefore = wm != 0 ? cpuSeconds(wm) : 0;
            const double bystanderBefore = bystander != 0 ? cpuSeconds(bystander) : 0;
            const auto start = Clock::now();
            auto sliceEnd = start;
            const auto betweenSlices = [&] {
                const auto now = Clock::now();
                longestSlice = std::max(longestSlice, std::chrono::duration<double>(now - sliceEnd).count());
                sliceEnd = now;
                return true;
            };
            const bool typed = typing.typeText(kind.text, betweenSlices).ok();
            callSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            const bool arrived = target->waitFor(inTk(kind.text)) == inTk(kind.text);
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
            waitUntilIdle(wm);  // the window manager may still be reloading keymaps
            wmSeconds += wm != 0 ? cpuSeconds(wm) - wmBefore : 0;
            waitUntilIdle(bystander);
            bystanderSeconds += bystander != 0 ? cpuSeconds(bystander) - bystanderBefore : 0;
            changes += typing.lastTypingStats().keymapChanges;
            batches += typing.lastTypingStats().batches;
            switches += typing.lastTypingStats().groupSwitches;
            paced += typing.lastTypingStats().targetAnswered ? 1 : 0;
            exact += typed && arrived ? 1 : 0;
            exactPaced += typed && arrived && typing.lastTypingStats().targetAnswered ? 1 : 0;
        }
        const double chars = static_cast<double>(kind.text.size()) * runs;
        std::printf(
            "FIGURE %s (%zu chars): %.0f chars/s arrived (%.0f chars/s sent), exact %d of %d, %.1f batches "
            "and %.1f keymap changes and %.0f group switches per run, window manager CPU %.2f s per run%s, "
            "another client's (%s) CPU "
            "%.3f s per run, longest time between two event-loop turns %.0f ms, target paced by pings in %d "
            "runs (%d of them exact)\n",
            kind.name, kind.text.size(), chars / seconds, chars / callSeconds, exact, runs,
            static_cast<double>(batches) / runs, static_cast<double>(changes) / runs,
            static_cast<double>(switches) / runs, wmSeconds / runs,
            wm != 0 ? "" : " (window manager not found)", bystander != 0 ? "xterm" : "none started",
            bystanderSeconds / runs, longestSlice * 1000, paced, exactPaced);
        EXPECT_EQ(exact, runs);
    }
}

}  // namespace
}  // namespace varnel
