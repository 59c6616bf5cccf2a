#include "platform/win32/Win32Keyboard.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "base/Utf16.h"
#include "platform/win32/Win32Support.h"
#include "platform/win32/Win32Windows.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The target has taken every key sent before the sentinel once its thread has taken the sentinel.
constexpr WORD SentinelKey = VK_F24;
constexpr auto SentinelBound = 2000ms;
constexpr auto SentinelReleaseBound = 200ms;
// Typing goes out in slices of about this long (sending and the target's taking them), so the
// window stays live and a stop takes effect soon.
constexpr auto SliceTarget = 30ms;
constexpr std::size_t FirstSliceUnits = 8;
constexpr std::size_t MinSliceUnits = 2;
constexpr std::size_t MaxSliceUnits = 256;
// Where the target's input cannot be watched (its thread refuses to be attached), slices are
// paced by this much per unit: about 100 characters a second.
constexpr auto UnwatchedPacePerUnit = 10ms;
// How long the user may take to let go of modifier keys before they are released for them.
constexpr auto ModifierReleaseBound = 500ms;
// An unassigned key, tapped before Alt or Windows is released for the user, so that the release
// does not open the target's menu or the start menu.
constexpr WORD NeutralKey = 0xE8;

constexpr std::array<WORD, 8> ModifierKeys = {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                                              VK_LMENU,  VK_RMENU,  VK_LWIN,     VK_RWIN};

bool IsExtended(WORD key) {
    return key == VK_RCONTROL || key == VK_RMENU || key == VK_LWIN || key == VK_RWIN || key == VK_INSERT;
}

INPUT KeyEvent(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0u) | (IsExtended(key) ? KEYEVENTF_EXTENDEDKEY : 0u);
    return input;
}

INPUT UnitEvent(char16_t unit, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = static_cast<WORD>(unit);
    input.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0u);
    return input;
}

bool IsDown(int key) {
    return (static_cast<unsigned short>(::GetAsyncKeyState(key)) & 0x8000u) != 0;
}

// Sends the events; when only part of them went out, releases the keys that part left down.
Status Send(const std::vector<INPUT>& events, const char* what) {
    if (events.empty()) {
        return Status::success();
    }
    const UINT count = static_cast<UINT>(events.size());
    const UINT sent = ::SendInput(count, const_cast<INPUT*>(events.data()), sizeof(INPUT));
    if (sent == count) {
        return Status::success();
    }
    const std::string why = LastErrorText();
    std::vector<INPUT> releases;
    for (UINT i = 0; i < sent; ++i) {
        const INPUT& e = events[i];
        if ((e.ki.dwFlags & KEYEVENTF_KEYUP) != 0) {
            continue;
        }
        const bool releasedLater =
            std::any_of(events.begin() + i + 1, events.begin() + sent, [&e](const INPUT& l) {
                return (l.ki.dwFlags & KEYEVENTF_KEYUP) != 0 && l.ki.wVk == e.ki.wVk &&
                       l.ki.wScan == e.ki.wScan;
            });
        if (!releasedLater) {
            INPUT release = e;
            release.ki.dwFlags |= KEYEVENTF_KEYUP;
            releases.push_back(release);
        }
    }
    if (!releases.empty()) {
        ::SendInput(static_cast<UINT>(releases.size()), releases.data(), sizeof(INPUT));
    }
    return Status::failure(std::string(what) + ": SendInput sent " + std::to_string(sent) + " of " +
                           std::to_string(count) + " events (" + why + ")");
}

// Modifier keys the user holds down would turn our keys into shortcuts. The user is given a moment
// to let go; the keys still held then are returned, to be released for them.
std::vector<WORD> AwaitModifierRelease() {
    const auto deadline = Clock::now() + ModifierReleaseBound;
    auto held = [] {
        std::vector<WORD> keys;
        for (WORD key : ModifierKeys) {
            if (IsDown(key)) {
                keys.push_back(key);
            }
        }
        return keys;
    };
    std::vector<WORD> keys = held();
    while (!keys.empty() && Clock::now() < deadline) {
        WaitServingSentMessages(10ms);
        keys = held();
    }
    return keys;
}

// Releases of the held keys; a tap of an unassigned key first when Alt or Windows is among them.
void AppendReleases(const std::vector<WORD>& keys, std::vector<INPUT>& events) {
    if (std::any_of(keys.begin(), keys.end(),
                    [](WORD k) { return k == VK_LMENU || k == VK_RMENU || k == VK_LWIN || k == VK_RWIN; })) {
        events.push_back(KeyEvent(NeutralKey, false));
        events.push_back(KeyEvent(NeutralKey, true));
    }
    for (WORD key : keys) {
        events.push_back(KeyEvent(key, true));
    }
}

// What a sentinel wait found.
enum class Sentinel {
    Taken,      // the target's thread took it, and every key before it
    Unwatched,  // the target's input cannot be watched from here (or it is our own thread)
};

// Sends the events to the window in front and waits until its thread has taken them. Attached to
// the input of that thread, our GetKeyState reads the key state its taking of key messages moves:
// an F24 press sent after the events shows there once the target has taken them all. The events go
// out only once attached: attaching while keys are still on their way can lose the modifier state
// they carry (measured under Wine: Ctrl+Insert then arrived as a plain Insert).
Result<Sentinel> SendAndAwait(HWND front, const std::vector<INPUT>& events, const char* what,
                              bool* escapeSeen) {
    using R = Result<Sentinel>;
    const DWORD thread = front != nullptr ? ::GetWindowThreadProcessId(front, nullptr) : 0;
    const DWORD ownThread = ::GetCurrentThreadId();
    if (thread == 0 || thread == ownThread || !::AttachThreadInput(ownThread, thread, TRUE)) {
        Status sent = Send(events, what);
        return sent ? R::success(Sentinel::Unwatched) : R::failure(sent.error());
    }
    struct Detach {
        DWORD own, other;
        ~Detach() { ::AttachThreadInput(own, other, FALSE); }
    } detach{ownThread, thread};

    auto sentinelDown = [] {
        return (static_cast<unsigned short>(::GetKeyState(SentinelKey)) & 0x8000u) != 0;
    };
    auto waitFor = [&](bool down, Clock::duration bound) {
        const auto deadline = Clock::now() + bound;
        while (sentinelDown() != down) {
            if (Clock::now() >= deadline) {
                return false;
            }
            if (escapeSeen != nullptr && IsDown(VK_ESCAPE)) {
                *escapeSeen = true;
            }
            WaitServingSentMessages(1ms);
        }
        return true;
    };
    if (sentinelDown()) {  // left down by an earlier wait that gave up
        IgnoreFailure(Send({KeyEvent(SentinelKey, true)}, "the sentinel key"),
                      "input that cannot be sent fails the keys below as well, which report it");
        waitFor(false, SentinelReleaseBound);
    }
    if (Status sent = Send(events, what); !sent) {
        return R::failure(sent.error());
    }
    if (Status sent = Send({KeyEvent(SentinelKey, false)}, "the sentinel key"); !sent) {
        return R::failure(sent.error());
    }
    const bool taken = waitFor(true, SentinelBound);
    Status released = Send({KeyEvent(SentinelKey, true)}, "the sentinel key");
    if (taken) {
        waitFor(false, SentinelReleaseBound);
    }
    if (!taken) {
        return R::failure(
            "the window in front did not take the keys within " +
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(SentinelBound).count()) +
            " ms");
    }
    return released ? R::success(Sentinel::Taken) : R::failure(released.error());
}

// The chord, with the modifiers the user holds released around it and pressed again after it (the
// chord takes a moment: the user still holds them), and waits until the target has taken it.
Status PressChord(WORD modifier, const char* what) {
    const std::vector<WORD> held = AwaitModifierRelease();
    std::vector<INPUT> events;
    AppendReleases(held, events);
    for (const INPUT& chord : {KeyEvent(modifier, false), KeyEvent(VK_INSERT, false),
                               KeyEvent(VK_INSERT, true), KeyEvent(modifier, true)}) {
        events.push_back(chord);
    }
    for (WORD key : held) {
        events.push_back(KeyEvent(key, false));
    }
    const auto sent = SendAndAwait(::GetForegroundWindow(), events, what, nullptr);
    return sent ? Status::success() : Status::failure(std::string(what) + ": " + sent.error());
}

}  // namespace

Status Win32Keyboard::pressPasteKey() {
    return PressChord(VK_SHIFT, "Shift+Insert");
}

Status Win32Keyboard::pressCopyKey() {
    return PressChord(VK_CONTROL, "Ctrl+Insert");
}

Status Win32Keyboard::waitUntilSent() {
    const auto result = SendAndAwait(::GetForegroundWindow(), {}, "waiting", nullptr);
    return result ? Status::success() : Status::failure(result.error());
}

Status Win32Keyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    stats_ = TypingStats{};
    if (text.empty()) {
        return Status::success();
    }
    // Released for the whole typing and not pressed again afterwards: after a typing of some length
    // the user has most likely let go, and a key pressed again for them would then stay down.
    std::vector<INPUT> events;
    AppendReleases(AwaitModifierRelease(), events);
    HWND front = ::GetForegroundWindow();
    const DWORD ownProcess = ::GetCurrentProcessId();
    bool escapeSeen = false;  // while a slice was waited for

    std::size_t sliceUnits = FirstSliceUnits;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = std::min(text.size(), position + sliceUnits);
        if (end < text.size() && IsHighSurrogate(text[end - 1]) && IsLowSurrogate(text[end])) {
            ++end;  // a pair goes out whole
        }
        for (std::size_t i = position; i < end; ++i) {
            const char16_t unit = text[i];
            if (unit == u'\r' || unit == u'\n' || unit == u'\t') {
                const WORD key = unit == u'\t' ? VK_TAB : VK_RETURN;
                events.push_back(KeyEvent(key, false));
                events.push_back(KeyEvent(key, true));
            } else {
                events.push_back(UnitEvent(unit, false));
                events.push_back(UnitEvent(unit, true));
            }
        }
        const auto sliceStart = Clock::now();
        const auto sentinel = SendAndAwait(front, events, "typing", &escapeSeen);
        events.clear();
        if (!sentinel) {
            return Status::failure("typing: " + sentinel.error());
        }
        stats_.unitsSent += end - position;
        ++stats_.slices;
        const std::size_t sliceLength = end - position;
        position = end;
        if (sentinel.value() == Sentinel::Taken) {
            stats_.paced = true;
        } else if (front != nullptr && ::GetWindowThreadProcessId(front, nullptr) != ::GetCurrentThreadId()) {
            WaitServingSentMessages(UnwatchedPacePerUnit * static_cast<int>(sliceLength));
        }
        // The next slice is sized to take about SliceTarget at the rate this one was taken.
        const auto took = std::max<Clock::duration>(Clock::now() - sliceStart, 1ms);
        const auto fitting = static_cast<std::size_t>(static_cast<double>(sliceLength) * SliceTarget / took);
        sliceUnits = std::clamp(fitting, MinSliceUnits, MaxSliceUnits);

        if (position >= text.size()) {
            break;
        }
        if (betweenSlices && !betweenSlices()) {
            break;
        }
        if (escapeSeen || IsDown(VK_ESCAPE)) {
            break;
        }
        HWND now = ::GetForegroundWindow();
        if (now != front) {
            if (ProcessOfWindow(now) == ownProcess) {
                break;  // the user turned to one of our windows: a stop
            }
            return Status::failure("typing stopped: another window came to the front");
        }
    }
    return Status::success();
}

}  // namespace varnel
