// Synthesised keys on X11 through XTest, on a connection of its own.
//
// Text is typed character for character. Characters the current keymap carries are typed on their own
// keys at the right shift level; the others go through spare keycodes (keycodes without keysyms), which
// are remapped in batches — one keymap change per batch for all spare keycodes. Before each remap the
// target must have looked up the keys typed on the current mapping: it is asked with a _NET_WM_PING,
// which it answers after the events before it (a target that does not answer gets fixed waits). Where the
// session has an XIM server, the keys go from the target to the server and back before the target looks
// them up: the server is asked too, and the target once more after it (X11XimLink.h). Every keymap
// change costs every client (the window manager above all) a keymap reload, so the batches are as few as the
// text allows: where the keymap has a Level3 shift, each group of a spare keycode carries four characters
// (Shift and Level3 choose among them), otherwise two; and with XKB each spare keycode carries up to four
// groups, typed with that keyboard group locked (a stock keymap leaves 19 keycodes free: 304 characters
// per batch). Another group than the user's is locked only under a server grab, with the keys typed in
// it, and the user's group is back before the grab ends, so no other client can lock a group of its own
// in between or ever sees ours. Keys of the keymap that have one group type the same in every group; for
// the others the group the user had locked is locked again. A group switch waits until the server has
// handled the keys before it. The spare keycodes get their original mapping and the keyboard its locked group
// back at the end, on every path.
//
// Typing runs in slices with the caller's hook between them and stops early when that hook says so, when
// the user presses Escape (grabbed on the root window for the duration), when the focus leaves the
// client that had it at the start (asked after every key, in the round trip each key waits for) or when
// a mouse button is down outside the target's window between two slices (a click on our window that a
// window manager's grab still holds back). Another
// client's grab can freeze the keyboard for a while (a window manager's click-to-focus grab does, until it
// has dealt with the click): the keys then wait in the server, which a ping overtakes. So before every remap,
// hook call and the end, typing waits until the server has handled the keys sent so far.
//
// Typing owns the _VARNEL_TYPING selection while it types, taken under a server grab with a time of the
// server's clock; a typing whose selection another client takes stops with a failure. A root-window
// property records, before every change, what the spare keycodes are being given, whether Caps Lock was
// switched off and whether the keyboard group was switched; it is rewritten as each change is given back and
// deleted once nothing is left, on success and failure alike. Opening the keyboard repairs a keymap that a
// killed typing left behind, as a well-formed record of ours tells, and only on keycodes that still hold
// exactly what typing gave them; unless another client is typing at that moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Keyboard.h"

namespace varnel {

class X11Keyboard : public Keyboard {
  public:
    struct Options {
        // Before the next remap or the restore, the target must have looked up the keys typed on the
        // current mapping (a lookup uses the mapping of its moment). The target is asked through a
        // _NET_WM_PING, which it answers once it has handled the events before it; this long at most
        // (whether it answers at all is asked once, before the typing, with a bound of 250 ms).
        std::chrono::milliseconds targetBound{3000};
        // For a target that does not answer: a fixed wait after each remap before typing on it, and after
        // the keys typed on it before the next remap or the restore.
        std::chrono::milliseconds remapSettle{45};
        // Where the session has an XIM server, its clients look keys up only once the server has sent them
        // back: before a remap the server is asked too (it answers after what it got before), each time
        // this long at most, and all the rounds of asking before one remap (one per key event in flight)
        // take ximPassBound at most. A server that does not answer in time gets the fixed wait ximSettle
        // around each remap instead, for the rest of the typing.
        std::chrono::milliseconds ximBound{1000};
        std::chrono::milliseconds ximPassBound{10000};
        std::chrono::milliseconds ximSettle{250};
        // How long typing waits for modifier keys the user still holds to be released.
        std::chrono::milliseconds modifierReleaseBound{2000};
        // Typing time between two calls of the caller's hook.
        std::chrono::milliseconds slice{30};
        // How long typing waits for the server to handle keys that another client's grab holds back.
        std::chrono::milliseconds heldBackBound{3000};
        // Whether the spare keycodes may carry the second to fourth keyboard groups, typed with that
        // group locked under a server grab: four times the characters per keymap change. (A desktop
        // component that manages the keyboard layout, mutter for one, locks its own group back as soon
        // as it sees ours: without the grab, keys would then type other characters.)
        bool extraGroups = true;
    };

    // What the last typeText did (for measurements).
    struct TypingStats {
        int keymapChanges = 0;        // keymap changes, the restore included
        bool targetAnswered = false;  // the target answered the pings that pace the batches
        bool ximServer = false;       // the session's XIM server was asked too (typing and waitUntilSent)
        bool ximSilent = false;       // and did not answer in time once
        int batches = 0;              // mappings of the spare keycodes the text needed
        int spareKeycodes = 0;
        int remappedCharacters = 0;  // characters typed through spare keycodes
        int levelsPerKeycode = 0;    // shift levels of each group of a spare keycode
        int groupsPerKeycode = 0;    // keyboard groups a spare keycode carries (1 to 4)
        int groupSwitches = 0;       // keyboard group locks for the characters of other groups
        int typedCharacters = 0;
        bool modifiersStillHeld = false;
        bool stopped = false;   // by the caller's hook, by Escape or by the focus leaving the target
        bool heldBack = false;  // another client's grab held the keys back for a while
    };

    // Null when the display cannot be opened or has no XTest; the reason goes to *why (may be null).
    static std::unique_ptr<X11Keyboard> open(std::string* why);
    static std::unique_ptr<X11Keyboard> open(std::string* why, Options options);
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    Status pressPasteKey() override;
    Status pressCopyKey() override;
    using Keyboard::typeText;
    Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) override;
    Status waitUntilSent() override;

    TypingStats lastTypingStats() const;
    // Whether the keys sent before the last waitUntilSent had all come back from the session's XIM
    // server to the target when it returned (false where none runs, or it or the target did not answer
    // in time): an input method switched back on then composes none of them.
    bool keysPassedInputMethod() const;

    // The keycodes typing reads and remaps, from the range the keyboard reports: the core protocol
    // carries keycodes 8 to 255 only (a server may report more, as XWayland does, and refuses any above
    // 255 in a mapping change). first > last when the range holds none.
    struct KeycodeRange {
        int first = 0;
        int last = -1;
    };
    static KeycodeRange coreKeycodeRange(int minKeycode, int maxKeycode);

  private:
    struct Impl;
    explicit X11Keyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
