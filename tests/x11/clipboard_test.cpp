// The X11 clipboard against a real X server, with xclip, Tk and a raw Xlib client on the other side.
#include "platform/x11/X11Clipboard.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Xlib last: its macros (None, Status) clash with GoogleTest's and our names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Status

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class TestPump : public EventPump {
  public:
    void pumpOnce() override {
        ++pumps;
        if (onPump) {
            auto hook = std::move(onPump);
            onPump = nullptr;
            hook();
        }
    }
    int pumps = 0;
    std::function<void()> onPump;  // runs once, at the next pump
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string tempFile(const std::string& bytes) {
    char name[] = "/tmp/varnel-clip-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary) << bytes;
    return name;
}

// xclip forks and keeps serving in the background until another client takes the selection.
void xclipOffer(const std::string& bytes, const std::string& selection = "clipboard",
                const std::string& target = "") {
    const std::string file = tempFile(bytes);
    const std::string command = "xclip -selection " + selection + (target.empty() ? "" : " -t " + target) +
                                " -i " + file + " >/dev/null 2>&1";
    // xclip returns before its background half has taken the selection: wait for the new owner.
    Display* display = XOpenDisplay(nullptr);
    const Atom atom = XInternAtom(display, selection == "primary" ? "PRIMARY" : "CLIPBOARD", False);
    const Window before = XGetSelectionOwner(display, atom);
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return XGetSelectionOwner(display, atom) != before; }, 2s));
    XCloseDisplay(display);
    std::remove(file.c_str());
}

// What another client reads; nullopt when xclip failed (no owner, or the target refused).
std::optional<std::string> xclipRead(const std::string& selection = "clipboard",
                                     const std::string& target = "UTF8_STRING") {
    const std::string command = "xclip -o -selection " + selection + " -t " + target + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    return pclose(pipe) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

// A client that owns a selection and never answers a request.
class HungOwner {
  public:
    explicit HungOwner(const char* selection = "CLIPBOARD") : display_(XOpenDisplay(nullptr)) {
        const Window root = DefaultRootWindow(display_);
        window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, selection, False), window_, CurrentTime);
        XSync(display_, False);
    }
    ~HungOwner() { XCloseDisplay(display_); }
    HungOwner(const HungOwner&) = delete;
    HungOwner& operator=(const HungOwner&) = delete;
    Display* display() const { return display_; }

  private:
    Display* display_;
    Window window_ = None;
};

class ClipboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        clipboard = X11Clipboard::open(pump, &why);
        ASSERT_NE(clipboard, nullptr) << why;
    }

    // Waits until the worker has taken in a change after `generation` and returns the text (or nullopt).
    std::optional<std::u16string> textAfter(std::uint64_t generation) {
        EXPECT_TRUE(waitUntil([&] { return clipboard->counters().generation > generation; }, 2s));
        const auto text = clipboard->getText();
        return text.ok() ? std::optional<std::u16string>(text.value()) : std::nullopt;
    }

    TestPump pump;
    std::unique_ptr<X11Clipboard> clipboard;
};

const std::u16string Japanese = u"日本語のテキスト、ひらがな・カタカナ・漢字";
const std::string JapaneseUtf8 = "日本語のテキスト、ひらがな・カタカナ・漢字";

TEST_F(ClipboardTest, ReadsOtherClientsTextExactlyAndOnlyOncePerOwnerChange) {
    const std::pair<std::string, std::u16string> cases[] = {
        {JapaneseUtf8, Japanese},
        {"ﾊﾝｶｸ ｶﾀｶﾅ ｰﾟﾞ", u"ﾊﾝｶｸ ｶﾀｶﾅ ｰﾟﾞ"},
        {"𠮷野家 😀 end", u"𠮷野家 😀 end"},
        {"line1\r\nline2\n\ttab", u"line1\r\nline2\n\ttab"},
        // Invalid UTF-8: each broken sequence becomes one U+FFFD, the rest survives.
        {"a\xff"
         "b\xe3\x81"
         "c\xed\xa0\x80",
         u"a\uFFFDb\uFFFDc\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& [bytes, expected] : cases) {
        const auto before = clipboard->counters();
        xclipOffer(bytes);
        EXPECT_EQ(textAfter(before.generation), expected);
        ASSERT_TRUE(clipboard->hasText().ok());
        EXPECT_TRUE(clipboard->hasText().value());
        // UTF8_STRING answered at once: one request for the change, and none for the reads that follow.
        for (int i = 0; i < 50; ++i) {
            static_cast<void>(clipboard->hasText());  // only the requests they make count
            static_cast<void>(clipboard->getText());
        }
        std::this_thread::sleep_for(20ms);
        const auto after = clipboard->counters();
        EXPECT_EQ(after.conversionRequests, before.conversionRequests + 1);
        EXPECT_EQ(after.generation, before.generation + 1);
    }
}

TEST_F(ClipboardTest, TextAlreadyOnTheClipboardIsReadAtStart) {
    xclipOffer(JapaneseUtf8);
    std::string why;
    auto fresh = X11Clipboard::open(pump, &why);
    ASSERT_NE(fresh, nullptr) << why;
    // open() waits a while for the first fetch; on a busy machine it may still be under way then.
    auto text = fresh->getText();
    for (int i = 0; i < 200 && !text.ok(); ++i) {
        std::this_thread::sleep_for(10ms);
        text = fresh->getText();
    }
    ASSERT_TRUE(text.ok()) << text.error();
    EXPECT_EQ(text.value(), Japanese);
}

TEST_F(ClipboardTest, NonTextOwnerMeansNoText) {
    const auto before = clipboard->counters().generation;
    xclipOffer("\x89PNG\r\n\x1a\n-not-really-an-image", "clipboard", "image/png");
    ASSERT_TRUE(waitUntil([&] { return clipboard->counters().generation > before; }, 2s));
    const auto has = clipboard->hasText();
    ASSERT_TRUE(has.ok()) << has.error();
    EXPECT_FALSE(has.value());
    EXPECT_FALSE(clipboard->getText().ok());

    // And text again afterwards.
    const auto generation = clipboard->counters().generation;
    xclipOffer("back to text");
    EXPECT_EQ(textAfter(generation), u"back to text");
}

TEST_F(ClipboardTest, OwnTextIsServedToOtherClients) {
    ASSERT_TRUE(clipboard->setText(Japanese + u" 𠮷 ﾊﾝｶｸ").ok());
    EXPECT_EQ(clipboard->getText().valueOr(u""), Japanese + u" 𠮷 ﾊﾝｶｸ");
    EXPECT_EQ(xclipRead(), JapaneseUtf8 + " 𠮷 ﾊﾝｶｸ");
    EXPECT_EQ(xclipRead("clipboard", "TEXT"), JapaneseUtf8 + " 𠮷 ﾊﾝｶｸ");

    ASSERT_TRUE(clipboard->setText(u"café ☕").ok());
    EXPECT_EQ(xclipRead("clipboard", "STRING"), std::string("caf\xe9 ?"));
    const auto targets = xclipRead("clipboard", "TARGETS");
    ASSERT_TRUE(targets.has_value());
    for (const char* target : {"TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING", "TEXT"}) {
        EXPECT_NE(targets->find(target), std::string::npos) << target;
    }
    EXPECT_FALSE(xclipRead("clipboard", "image/png").has_value());
    EXPECT_FALSE(xclipRead("clipboard", "MULTIPLE").has_value());

    // Large texts go out in INCR chunks.
    std::u16string large;
    std::string largeUtf8;
    for (int i = 0; large.size() < 1'000'000; ++i) {
        large += u"大きなテキスト " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"\n";
        largeUtf8 += "大きなテキスト " + std::string(1, static_cast<char>('0' + i % 10)) + "\n";
    }
    ASSERT_TRUE(clipboard->setText(large).ok());
    const auto read = xclipRead();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), largeUtf8.size());
    EXPECT_TRUE(*read == largeUtf8);

    ASSERT_TRUE(clipboard->clear().ok());
    ASSERT_TRUE(clipboard->hasText().ok());
    EXPECT_FALSE(clipboard->hasText().value());
    EXPECT_FALSE(xclipRead().has_value());
}

// A megabyte goes out in INCR chunks; the paste counts as over only when the last chunk is taken, so
// changing the clipboard right after the wait cannot cut the transfer short.
TEST_F(ClipboardTest, MegabyteTextPastesIntoTk) {
    std::u16string large(1'048'576, u'x');
    for (std::size_t i = 0; i < large.size(); i += 97) {
        large[i] = u'あ';
    }
    auto t = Clock::now();
    ASSERT_TRUE(clipboard->setText(large).ok());
    std::printf("[figures] setText of 1 MB: %.1f ms\n", msSince(t));
    // Tk tells its window first, then pastes when told to.
    const std::string fifo = tempFile("") + ".go";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string script = tempFile(
        "wm withdraw .\n"
        "puts [winfo id .]\n"
        "flush stdout\n"
        "gets [open " +
        fifo +
        " r]\n"
        "set t [clipboard get -type UTF8_STRING]\n"
        "puts [string length $t]\n"
        "puts [regexp -all {あ} $t]\n"
        "exit\n");
    FILE* pipe = popen(("wish " + script + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ASSERT_TRUE(clipboard->expectPasteFrom(static_cast<WindowHandle>(std::strtoul(line, nullptr, 0))).ok());
    pump.onPump = [&] { std::ofstream(fifo) << "go\n"; };
    t = Clock::now();
    EXPECT_TRUE(clipboard->waitForPasteRequest(5s).ok());
    std::printf("[figures] waitForPasteRequest for a 1 MB paste into Tk: %.0f ms\n", msSince(t));
    ASSERT_TRUE(clipboard->setText(u"changed right after the paste").ok());
    std::string out;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        out += line;
    }
    pclose(pipe);
    std::remove(script.c_str());
    std::remove(fifo.c_str());
    const std::size_t marks = (large.size() + 96) / 97;
    EXPECT_EQ(out, std::to_string(large.size()) + "\n" + std::to_string(marks) + "\n");
}

TEST_F(ClipboardTest, LargeTextFromAnotherClientArrivesWhole) {
    std::string bytes;
    std::u16string expectedText;
    while (bytes.size() < 10'000'000) {
        bytes += "十メガバイトのテキスト 0123456789 abcdefghij\n";
        expectedText += u"十メガバイトのテキスト 0123456789 abcdefghij\n";
    }
    const auto expected = clipboard->counters().generation;
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    xclipOffer(bytes);
    double slowestRead = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto t = Clock::now();
            static_cast<void>(clipboard->hasText());  // only how long it takes counts
            slowestRead = std::max(slowestRead, msSince(t));
            return clipboard->counters().generation > expected;
        },
        10s));
    const double elapsed = msSince(start);
    const double cpu = cpuSeconds() - cpuBefore;
    const auto t = Clock::now();
    const auto text = clipboard->getText();
    const double copy = msSince(t);
    ASSERT_TRUE(text.ok()) << text.error();
    EXPECT_TRUE(text.value() == expectedText);
    std::printf(
        "[figures] 10 MB foreign text: %.0f ms, %.3f s CPU in this process; slowest hasText %.3f ms; "
        "getText copy %.1f ms\n",
        elapsed, cpu, slowestRead, copy);
}

TEST_F(ClipboardTest, HungOwnerNeverBlocksAndIsAskedOnce) {
    xclipOffer("before the hang");
    ASSERT_TRUE(waitUntil([&] { return clipboard->getText().valueOr(u"") == u"before the hang"; }, 2s));
    const auto before = clipboard->counters();
    double slowest = 0;
    auto timedCalls = [&] {
        auto t = Clock::now();
        auto has = clipboard->hasText();
        slowest = std::max(slowest, msSince(t));
        t = Clock::now();
        static_cast<void>(clipboard->getText());
        slowest = std::max(slowest, msSince(t));
        return has;
    };
    {
        HungOwner hung;
        const auto start = Clock::now();
        // The previous text stands while the worker waits; then the read counts as failed.
        ASSERT_TRUE(waitUntil([&] { return !timedCalls().ok(); }, 2s));
        const double failedAfter = msSince(start);
        EXPECT_GE(failedAfter, 250.0);
        // Not asked again while it stays the owner.
        const auto until = Clock::now() + 600ms;
        while (Clock::now() < until) {
            EXPECT_FALSE(timedCalls().ok());
            std::this_thread::sleep_for(2ms);
        }
        EXPECT_EQ(clipboard->counters().conversionRequests, before.conversionRequests + 1);
        EXPECT_LT(slowest, 50.0);
        std::printf("[figures] hung owner: read failed after %.0f ms; slowest hasText/getText %.3f ms\n",
                    failedAfter, slowest);

        // A well-behaved client that copies next is read at once.
        const auto generation = clipboard->counters().generation;
        const auto t = Clock::now();
        xclipOffer("after the hang");
        EXPECT_EQ(textAfter(generation), u"after the hang");
        std::printf("[figures] text after the hung owner read in %.1f ms\n", msSince(t));
    }
}

// Another X client on a connection of its own, whose event loop runs on a thread of its own from
// start() until the derived class's destructor calls finish().
class ThreadedClient {
  public:
    ThreadedClient(const ThreadedClient&) = delete;
    ThreadedClient& operator=(const ThreadedClient&) = delete;

  protected:
    ThreadedClient() : display_(XOpenDisplay(nullptr)) {}
    ~ThreadedClient() { XCloseDisplay(display_); }
    void start(std::function<void()> loop) {
        XSync(display_, False);
        thread_ = std::thread(std::move(loop));
    }
    void finish() {
        stop_ = true;
        thread_.join();
    }

    Display* display_;
    std::atomic<bool> stop_{false};

  private:
    std::thread thread_;
};

// Another application, scripted: it owns CLIPBOARD and answers UTF8_STRING with its text, in one piece
// or in INCR chunks sent as the script says (any format, any pace), and it reads the clipboard from a
// second window of its own, as toolkits do. Every X call runs on its own thread.
class OtherClient : ThreadedClient {
  public:
    struct Chunk {
        int format = 8;
        std::string bytes;  // for format 16 or 32: the raw items, 2 or sizeof(long) bytes each
        std::chrono::milliseconds delay{0};
    };

    OtherClient() {
        const Window root = DefaultRootWindow(display_);
        window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        reader_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display_, reader_, PropertyChangeMask);
        clipboard_ = XInternAtom(display_, "CLIPBOARD", False);
        utf8_ = XInternAtom(display_, "UTF8_STRING", False);
        incr_ = XInternAtom(display_, "INCR", False);
        start([this] { loop(); });
    }
    ~OtherClient() { finish(); }

    // The application's top-level window: what the window system reports as the target.
    Window window() const { return window_; }

    // Takes CLIPBOARD with the text; with chunks, every request is answered by INCR with them.
    void own(std::string text, std::vector<Chunk> chunks = {}, long announced = 0) {
        run([this, text = std::move(text), chunks = std::move(chunks), announced] {
            text_ = text;
            chunks_ = chunks;
            announced_ = announced;
            XSetSelectionOwner(display_, clipboard_, window_, CurrentTime);
        });
    }

    // Asks for the clipboard's text (or another target) from the second window; nullopt after 2 s.
    std::optional<std::string> read(const char* target = "UTF8_STRING", const char* selection = "CLIPBOARD") {
        std::optional<std::string> answer;
        bool done = false;
        run([&, target, selection] {
            const Atom property = XInternAtom(display_, "OTHER_CLIENT_READ", False);
            XConvertSelection(display_, XInternAtom(display_, selection, False),
                              XInternAtom(display_, target, False), property, reader_, CurrentTime);
            onNotify_ = [&, property](const XSelectionEvent& event) {
                if (event.property != None) {
                    Atom type;
                    int format;
                    unsigned long items, after;
                    unsigned char* raw = nullptr;
                    XGetWindowProperty(display_, reader_, property, 0, 1 << 20, True, AnyPropertyType, &type,
                                       &format, &items, &after, &raw);
                    answer = std::string(reinterpret_cast<const char*>(raw), format == 8 ? items : 0);
                    XFree(raw);
                }
                done = true;
            };
        });
        waitUntil([&] { return done; }, 2s);
        run([this] { onNotify_ = nullptr; });
        return answer;
    }

  private:
    void run(std::function<void()> work) {
        std::unique_lock lock(mutex_);
        work_ = std::move(work);
        cv_.wait(lock, [this] { return !work_; });
    }

    void loop() {
        std::vector<Chunk> sending;
        Window requestor = None;
        Atom property = None;
        while (!stop_) {
            {
                std::lock_guard lock(mutex_);
                if (work_) {
                    work_();
                    XFlush(display_);
                    work_ = nullptr;
                    cv_.notify_all();
                }
            }
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == SelectionNotify && onNotify_) {
                    onNotify_(event.xselection);
                } else if (event.type == SelectionRequest) {
                    const auto& request = event.xselectionrequest;
                    XSelectionEvent reply{
                        SelectionNotify, 0,    True,        display_, request.requestor, request.selection,
                        request.target,  None, request.time};
                    if (request.target == utf8_ && chunks_.empty()) {
                        XChangeProperty(display_, request.requestor, request.property, utf8_, 8,
                                        PropModeReplace, reinterpret_cast<const unsigned char*>(text_.data()),
                                        static_cast<int>(text_.size()));
                        reply.property = request.property;
                    } else if (request.target == utf8_) {
                        XSelectInput(display_, request.requestor, PropertyChangeMask);
                        XChangeProperty(display_, request.requestor, request.property, incr_, 32,
                                        PropModeReplace, reinterpret_cast<const unsigned char*>(&announced_),
                                        1);
                        reply.property = request.property;
                        sending = chunks_;
                        sending.push_back(Chunk{});  // the empty end
                        requestor = request.requestor;
                        property = request.property;
                    }
                    XSendEvent(display_, request.requestor, False, NoEventMask,
                               reinterpret_cast<XEvent*>(&reply));
                } else if (event.type == PropertyNotify && event.xproperty.window == requestor &&
                           event.xproperty.atom == property && event.xproperty.state == PropertyDelete &&
                           !sending.empty()) {
                    const Chunk chunk = sending.front();
                    sending.erase(sending.begin());
                    std::this_thread::sleep_for(chunk.delay);
                    const int unit = chunk.format == 8 ? 1 : chunk.format == 16 ? 2 : sizeof(long);
                    XChangeProperty(display_, requestor, property, utf8_, chunk.format, PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(chunk.bytes.data()),
                                    static_cast<int>(chunk.bytes.size()) / unit);
                }
                XFlush(display_);
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    Window window_ = None, reader_ = None;
    Atom clipboard_, utf8_, incr_;
    std::string text_;
    std::vector<Chunk> chunks_;
    long announced_ = 0;
    std::function<void(const XSelectionEvent&)> onNotify_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void()> work_;
};

// A clipboard manager as the freedesktop convention describes it: it owns CLIPBOARD_MANAGER, and when
// asked for SAVE_TARGETS it fetches TARGETS and then the UTF8_STRING text from the clipboard's owner
// (INCR chunks too), keeps them, and only then answers the request.
class ClipboardManager : ThreadedClient {
  public:
    ClipboardManager() {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display_, window_, PropertyChangeMask);
        XSetSelectionOwner(display_, atom("CLIPBOARD_MANAGER"), window_, CurrentTime);
        start([this] { loop(); });
    }
    ~ClipboardManager() { finish(); }

    // What the last hand-over saved: the targets offered and the text.
    std::string savedTargets() const {
        std::lock_guard lock(mutex_);
        return savedTargets_;
    }
    std::string savedText() const {
        std::lock_guard lock(mutex_);
        return savedText_;
    }

  private:
    Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

    // Reads and deletes the property on our window; its type in *type.
    std::string take(Atom property, Atom* type) {
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* raw = nullptr;
        XGetWindowProperty(display_, window_, property, 0, 1 << 24, True, AnyPropertyType, type, &format,
                           &items, &after, &raw);
        std::string bytes;
        if (raw != nullptr && format == 8) {
            bytes.assign(reinterpret_cast<const char*>(raw), items);
        } else if (raw != nullptr && format == 32 && *type == XA_ATOM) {
            for (unsigned long i = 0; i < items; ++i) {
                char* name = XGetAtomName(display_, reinterpret_cast<const Atom*>(raw)[i]);
                bytes += std::string(name) + " ";
                XFree(name);
            }
        }
        if (raw != nullptr) {
            XFree(raw);
        }
        return bytes;
    }

    void loop() {
        const Atom clipboard = atom("CLIPBOARD"), targets = atom("TARGETS"), utf8 = atom("UTF8_STRING"),
                   incr = atom("INCR"), property = atom("MANAGER_SAVE");
        std::optional<XSelectionRequestEvent> saving;
        bool chunked = false;
        std::string text;
        auto answer = [&] {
            XChangeProperty(display_, saving->requestor, saving->property, atom("NULL"), 32, PropModeReplace,
                            nullptr, 0);
            XSelectionEvent reply{SelectionNotify,
                                  0,
                                  True,
                                  display_,
                                  saving->requestor,
                                  saving->selection,
                                  saving->target,
                                  saving->property,
                                  saving->time};
            XSendEvent(display_, saving->requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
            std::lock_guard lock(mutex_);
            savedText_ = text;
            saving.reset();
        };
        while (!stop_) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == SelectionRequest &&
                    event.xselectionrequest.target == atom("SAVE_TARGETS")) {
                    saving = event.xselectionrequest;
                    XConvertSelection(display_, clipboard, targets, property, window_, CurrentTime);
                } else if (event.type == SelectionNotify && saving && event.xselection.target == targets) {
                    Atom type = None;
                    const std::string offered = take(property, &type);
                    std::lock_guard lock(mutex_);
                    savedTargets_ = offered;
                    XConvertSelection(display_, clipboard, utf8, property, window_, CurrentTime);
                } else if (event.type == SelectionNotify && saving && event.xselection.target == utf8) {
                    Atom type = None;
                    text = take(property, &type);  // deleting an INCR property asks for the first chunk
                    chunked = type == incr;
                    if (!chunked) {
                        answer();
                    } else {
                        text.clear();
                    }
                } else if (event.type == PropertyNotify && chunked && event.xproperty.atom == property &&
                           event.xproperty.state == PropertyNewValue) {
                    Atom type = None;
                    const std::string chunk = take(property, &type);
                    text += chunk;
                    if (chunk.empty()) {
                        chunked = false;
                        answer();
                    }
                }
                XFlush(display_);
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    Window window_ = None;
    mutable std::mutex mutex_;
    std::string savedTargets_, savedText_;
};

// The text we own outlives us where a clipboard manager runs: it has the exact text once our clipboard
// is gone, a text larger than one chunk included.
TEST_F(ClipboardTest, ClipboardManagerKeepsOurTextAfterExit) {
    ClipboardManager manager;
    std::string largeUtf8;
    std::u16string large;
    while (largeUtf8.size() < 400'000) {
        largeUtf8 += "保存されるテキスト ";
        large += u"保存されるテキスト ";
    }
    ASSERT_TRUE(clipboard->setText(Japanese).ok());
    const auto start = Clock::now();
    ASSERT_TRUE(clipboard->handOverAtExit().ok());
    std::printf("[figures] hand-over of a short text to a clipboard manager: %.1f ms\n", msSince(start));
    EXPECT_EQ(manager.savedText(), JapaneseUtf8);
    EXPECT_NE(manager.savedTargets().find("UTF8_STRING"), std::string::npos);

    ASSERT_TRUE(clipboard->setText(large).ok());
    ASSERT_TRUE(clipboard->handOverAtExit().ok());
    clipboard.reset();
    EXPECT_TRUE(manager.savedText() == largeUtf8);
}

// Without a manager, or with no text of ours on the clipboard, the exit does not wait.
TEST_F(ClipboardTest, HandOverWithoutManagerReturnsAtOnce) {
    ASSERT_TRUE(clipboard->setText(u"nobody keeps this").ok());
    const auto start = Clock::now();
    EXPECT_FALSE(clipboard->handOverAtExit().ok());
    const double took = msSince(start);
    EXPECT_LT(took, 500.0);
    std::printf("[figures] hand-over without a clipboard manager: %.1f ms\n", took);

    ClipboardManager manager;
    ASSERT_TRUE(clipboard->clear().ok());
    EXPECT_TRUE(clipboard->handOverAtExit().ok());
    xclipOffer("another application's text");
    EXPECT_TRUE(clipboard->handOverAtExit().ok());
    EXPECT_EQ(manager.savedText(), "");
}

// A clipboard manager reads every new text at once; only the target's own request is the paste.
TEST_F(ClipboardTest, OnlyTheTargetsOwnDataRequestEndsThePasteWait) {
    OtherClient target;
    ASSERT_TRUE(clipboard->setText(u"paste me").ok());
    EXPECT_EQ(target.read(), "paste me");  // before the paste key: not the paste
    ASSERT_TRUE(clipboard->expectPasteFrom(static_cast<WindowHandle>(target.window())).ok());
    auto start = Clock::now();
    EXPECT_FALSE(clipboard->waitForPasteRequest(100ms).ok());
    EXPECT_GE(msSince(start), 100.0);
    EXPECT_GT(pump.pumps, 10);

    // A third party's read and the target's own TARGETS query end nothing.
    std::thread reader;
    pump.onPump = [&] {
        reader = std::thread([&] {
            EXPECT_EQ(xclipRead(), "paste me");
            EXPECT_TRUE(target.read("TARGETS").has_value());
        });
    };
    EXPECT_FALSE(clipboard->waitForPasteRequest(400ms).ok());
    reader.join();

    std::optional<std::string> pasted;
    pump.onPump = [&] { reader = std::thread([&] { pasted = target.read(); }); };
    start = Clock::now();
    EXPECT_TRUE(clipboard->waitForPasteRequest(1s).ok());
    const double took = msSince(start);
    EXPECT_GE(took, 40.0);  // the quiet period
    reader.join();
    EXPECT_EQ(pasted, "paste me");
    std::printf("[figures] waitForPasteRequest with the target's own read: %.0f ms\n", took);

    // A new setText starts the count again.
    ASSERT_TRUE(clipboard->setText(u"again").ok());
    EXPECT_FALSE(clipboard->waitForPasteRequest(60ms).ok());
}

TEST_F(ClipboardTest, OnlyTheTargetTakingTheClipboardEndsTheCopyWait) {
    OtherClient target;
    const auto targetWindow = static_cast<WindowHandle>(target.window());
    // Our own changes are not another client's.
    pump.onPump = [&] {
        EXPECT_TRUE(clipboard->setText(u"ours").ok());
        EXPECT_TRUE(clipboard->clear().ok());
    };
    EXPECT_FALSE(clipboard->waitForCopyFrom(targetWindow, 80ms).ok());

    // A clipboard manager putting its last text back after our clear() is not the copy.
    pump.onPump = [] { xclipOffer("the manager's last text"); };
    EXPECT_FALSE(clipboard->waitForCopyFrom(targetWindow, 300ms).ok());

    pump.onPump = [&] { target.own("コピーされた"); };
    const auto start = Clock::now();
    ASSERT_TRUE(clipboard->waitForCopyFrom(targetWindow, 2s).ok());
    std::printf("[figures] waitForCopyFrom with the target's copy: %.0f ms\n", msSince(start));
    EXPECT_EQ(clipboard->getText().valueOr(u""), u"コピーされた");
}

// Owners that send in chunks are bounded as a whole, and a chunk that is not 8-bit text fails the read.
TEST_F(ClipboardTest, HostileChunkedOwnersFailTheRead) {
    using Chunk = OtherClient::Chunk;
    OtherClient owner;
    auto readOf = [&](std::string text, std::vector<Chunk> chunks, long announced) {
        const auto generation = clipboard->counters().generation;
        owner.own(std::move(text), std::move(chunks), announced);
        EXPECT_TRUE(waitUntil([&] { return clipboard->counters().generation > generation; }, 10s));
        return clipboard->getText();
    };
    // Chunks may cut a character anywhere: the text is the same as in one piece, and a character cut
    // off by the end is one U+FFFD.
    const std::string bytes = "チャンク😀で届く";
    const auto whole = readOf("",
                              {{8, bytes.substr(0, 4), 0ms},
                               {8, bytes.substr(4, 10), 0ms},
                               {8, bytes.substr(14, 1), 0ms},
                               {8, bytes.substr(15) + "\xe3\x81", 0ms}},
                              16);
    EXPECT_EQ(whole.valueOr(u""), u"チャンク😀で届く\uFFFD");

    EXPECT_FALSE(readOf("", {{8, "abc", 0ms}, {16, "defg", 0ms}}, 8).ok());
    EXPECT_FALSE(readOf("", {{8, "abc", 0ms}, {32, std::string(sizeof(long), 'x'), 0ms}}, 8).ok());

    // One byte every 250 ms: each chunk is in time, the whole is not.
    std::vector<Chunk> trickle(20, Chunk{8, "z", 250ms});
    const auto start = Clock::now();
    EXPECT_FALSE(readOf("", trickle, 20).ok());
    const double took = msSince(start);
    EXPECT_LT(took, 4000.0);
    std::printf("[figures] a slow but steady chunked owner given up after %.0f ms\n", took);
}

// The process's virtual size in KiB, as the kernel reports it.
long vmSizeKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            return std::strtol(line.c_str() + 7, nullptr, 10);
        }
    }
    return 0;
}

// An owner's announced size is only its word: a few characters announced as 64 MiB take a few
// characters' memory, and the text kept holds no more than it needs.
TEST_F(ClipboardTest, AnnouncedSizeReservesNothing) {
    OtherClient owner;
    long before = 0;
    for (const long announced : {5L, 64L << 20}) {  // the first, honest, one lets every thread set up
        before = vmSizeKiB();
        const auto generation = clipboard->counters().generation;
        owner.own("", {{8, "ab", 0ms}, {8, "cde", 0ms}}, announced);
        ASSERT_TRUE(waitUntil([&] { return clipboard->counters().generation > generation; }, 2s));
    }
    const long after = vmSizeKiB();
    const auto text = clipboard->getSharedText();
    ASSERT_TRUE(text.ok()) << text.error();
    EXPECT_EQ(text.value().str(), u"abcde");
    EXPECT_LT(text.value().str().capacity(), 64u);
    std::printf("[figures] five characters announced as 64 MiB: VmSize %ld -> %ld KiB\n", before, after);
}

// With the address space nearly used up, a large text fails its read instead of ending the program.
TEST_F(ClipboardTest, TextTooLargeForMemoryFailsTheRead) {
    const std::string large(40u << 20, 'm');
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(vmSizeKiB() + 48 * 1024) * 1024;
    const auto generation = clipboard->counters().generation;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    xclipOffer(large);
    const bool taken = waitUntil([&] { return clipboard->counters().generation > generation; }, 10s);
    setrlimit(RLIMIT_AS, &old);
    ASSERT_TRUE(taken);
    EXPECT_FALSE(clipboard->getText().ok());

    const auto next = clipboard->counters().generation;
    xclipOffer("small again");
    EXPECT_EQ(textAfter(next), u"small again");
}

// A call that failed for lack of an answer from the server has no effect afterwards.
TEST_F(ClipboardTest, SetTextThatFailedDoesNotTakeEffectLater) {
    xclipOffer("the owner before");
    ASSERT_TRUE(waitUntil([&] { return clipboard->getText().valueOr(u"") == u"the owner before"; }, 2s));
    Display* grabber = XOpenDisplay(nullptr);
    XGrabServer(grabber);
    XSync(grabber, False);
    const auto status = clipboard->setText(u"too late");
    std::this_thread::sleep_for(300ms);
    XUngrabServer(grabber);
    XCloseDisplay(grabber);
    EXPECT_FALSE(status.ok());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(xclipRead(), "the owner before");
}

TEST_F(ClipboardTest, PrimaryIsOfferedAndGivenBack) {
    xclipOffer("selected before", "primary");
    ASSERT_TRUE(waitUntil([] { return xclipRead("primary").value_or("") == "selected before"; }, 2s));
    ASSERT_TRUE(clipboard->setText(u"slot text").ok());
    ASSERT_TRUE(clipboard->offerOnPrimary(u"slot text").ok());
    EXPECT_EQ(xclipRead("primary"), "slot text");
    // A terminal pasting PRIMARY counts as the paste.
    OtherClient terminal;
    std::thread paster;
    pump.onPump = [&] { paster = std::thread([&] { terminal.read("UTF8_STRING", "PRIMARY"); }); };
    ASSERT_TRUE(clipboard->clear().ok());
    ASSERT_TRUE(clipboard->expectPasteFrom(static_cast<WindowHandle>(terminal.window())).ok());
    EXPECT_TRUE(clipboard->waitForPasteRequest(1s).ok());
    paster.join();
    ASSERT_TRUE(clipboard->restorePrimary().ok());
    EXPECT_EQ(xclipRead("primary"), "selected before");

    // Nothing on PRIMARY before: nothing after.
    { HungOwner closesAtOnce("PRIMARY"); }
    ASSERT_TRUE(waitUntil([] { return !xclipRead("primary").has_value(); }, 2s));
    ASSERT_TRUE(clipboard->offerOnPrimary(u"second").ok());
    EXPECT_EQ(xclipRead("primary"), "second");
    ASSERT_TRUE(clipboard->restorePrimary().ok());
    EXPECT_FALSE(xclipRead("primary").has_value());

    // An owner of PRIMARY that never answers delays the offer by one bounded request, no more.
    HungOwner hung("PRIMARY");
    const auto start = Clock::now();
    ASSERT_TRUE(clipboard->offerOnPrimary(u"third").ok());
    const double took = msSince(start);
    EXPECT_LT(took, 600.0);
    std::printf("[figures] offerOnPrimary against a hung PRIMARY owner: %.0f ms\n", took);
    EXPECT_EQ(xclipRead("primary"), "third");
    ASSERT_TRUE(clipboard->restorePrimary().ok());
    EXPECT_FALSE(xclipRead("primary").has_value());
}

// A SelectionRequest for our text sent straight to the clipboard's owner, as if from the server.
void forgeRequest(Display* display, Window requestor) {
    const Atom clipboardAtom = XInternAtom(display, "CLIPBOARD", False);
    XSelectionRequestEvent request{};
    request.type = SelectionRequest;
    request.owner = XGetSelectionOwner(display, clipboardAtom);
    request.requestor = requestor;
    request.selection = clipboardAtom;
    request.target = XInternAtom(display, "UTF8_STRING", False);
    request.property = XInternAtom(display, "P", False);
    request.time = CurrentTime;
    XSendEvent(display, request.owner, False, NoEventMask, reinterpret_cast<XEvent*>(&request));
    XSync(display, False);
}

TEST_F(ClipboardTest, BogusRequestIsSurvived) {
    ASSERT_TRUE(clipboard->setText(u"still here").ok());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    forgeRequest(display, 0x3FFFFFF);  // no such window
    XCloseDisplay(display);
    EXPECT_TRUE(waitUntil([&] { return clipboard->counters().xErrors > 0; }, 1s));
    EXPECT_EQ(xclipRead(), "still here");
}

// Another client can aim a transfer of our text at our own window, by a conversion or a forged
// request. Neither is served, so nothing of it can outlive its bound and leave our window deaf to the
// server's timestamps; a requestor that takes nothing, or goes away, loses its transfer.
TEST(ClipboardHostileRequestorTest, TransfersAreNeverAimedAtOurOwnWindow) {
    TestPump pump;
    std::string why;
    auto clipboard = X11Clipboard::open(pump, &why, 150ms);
    ASSERT_NE(clipboard, nullptr) << why;
    const std::u16string large(300'000, u'x');  // more than one INCR chunk
    ASSERT_TRUE(clipboard->setText(large).ok());

    Display* hostile = XOpenDisplay(nullptr);
    const Atom clipboardAtom = XInternAtom(hostile, "CLIPBOARD", False);
    const Window ours = XGetSelectionOwner(hostile, clipboardAtom);
    XConvertSelection(hostile, clipboardAtom, XInternAtom(hostile, "UTF8_STRING", False),
                      XInternAtom(hostile, "HOSTILE", False), ours, CurrentTime);
    forgeRequest(hostile, ours);
    // A window of the hostile client's own that asks and never takes a chunk.
    const Window idle = XCreateSimpleWindow(hostile, DefaultRootWindow(hostile), 0, 0, 1, 1, 0, 0, 0);
    forgeRequest(hostile, idle);
    EXPECT_TRUE(waitUntil([&] { return clipboard->counters().transfers == 1; }, 1s));
    EXPECT_TRUE(waitUntil([&] { return clipboard->counters().transfers == 0; }, 1s));

    // Past every bound: the clipboard still changes.
    EXPECT_TRUE(clipboard->setText(u"after the hostile requests").ok());
    EXPECT_TRUE(xclipRead() == "after the hostile requests");
    EXPECT_TRUE(clipboard->clear().ok());
    EXPECT_TRUE(clipboard->setText(large).ok());
    XCloseDisplay(hostile);
}

// A requestor whose window is destroyed mid-transfer loses it at once, not at the end of the bound.
TEST_F(ClipboardTest, DestroyedRequestorEndsItsTransfer) {
    ASSERT_TRUE(clipboard->setText(std::u16string(300'000, u'y')).ok());
    Display* requestor = XOpenDisplay(nullptr);
    const Window window = XCreateSimpleWindow(requestor, DefaultRootWindow(requestor), 0, 0, 1, 1, 0, 0, 0);
    forgeRequest(requestor, window);
    ASSERT_TRUE(waitUntil([&] { return clipboard->counters().transfers == 1; }, 1s));
    XDestroyWindow(requestor, window);
    XSync(requestor, False);
    EXPECT_TRUE(waitUntil([&] { return clipboard->counters().transfers == 0; }, 1s));
    XCloseDisplay(requestor);
    EXPECT_TRUE(clipboard->setText(u"after").ok());
}

TEST_F(ClipboardTest, IdleWorkerUsesNoCpu) {
    ASSERT_TRUE(clipboard->setText(u"idle").ok());
    const double before = cpuSeconds();
    std::this_thread::sleep_for(1s);
    const double used = cpuSeconds() - before;
    std::printf("[figures] idle worker: %.4f s CPU per second\n", used);
    EXPECT_LT(used, 0.01);
}

}  // namespace
}  // namespace varnel
