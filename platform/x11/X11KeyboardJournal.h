// The record of typing's changes to the keymap on the root window, its repair after a killed typing, and
// the typing lock. Internal to X11Keyboard.
#pragma once

#include <random>

#include "platform/x11/X11KeyboardConnection.h"

namespace varnel::x11keyboard {

// The record of a typing's changes to the keyboard, kept on the root window (property
// _VARNEL_KEYMAP_JOURNAL of type _VARNEL_KEYMAP_RECORD, 32-bit words) while they last. Words: magic,
// version, the writer's nonce, the keymap's lowest and highest keycode, Caps Lock switched off (0 or 1),
// the keyboard group locked by typing (0 or 1) and the locked group to give back, levels per group L (2
// or 4), groups per keycode G (1 to 4), the key type the spare keycodes are given, the two modifier keys
// typing presses (Shift, the Level3 shift or 0), the number N of spare keycodes, then per spare keycode
// its number, the G * L keysyms it held before the change under way and the G * L it is being given, and
// last a checksum of all the words before it. A killed typing leaves it behind; the next start undoes what it
// names (see repairLeftovers). Any client may write a root property, so a record is read as untrusted.
struct KeymapRecord {
    static constexpr long Magic = 0x56524E4C;
    static constexpr long Version = 3;
    static constexpr std::size_t Header = 14;

    long nonce = 0;
    int minKeycode = 0;
    int maxKeycode = 0;
    bool capsLockOff = false;
    bool groupLocked = false;
    int lockedGroupBefore = 0;
    int levels = 0;
    int groups = 1;
    int type = 0;
    int shift = 0;
    int levelThree = 0;
    std::vector<KeyCode> keycodes;
    std::vector<KeySym> before, after;  // groups * levels per keycode each

    std::size_t perKeycode() const { return static_cast<std::size_t>(groups * levels); }

    static long checksum(const long* words, std::size_t count);

    std::vector<long> encode() const;

    // The record the words hold, or nothing when any of them is out of place.
    static std::optional<KeymapRecord> decode(const long* words, std::size_t count);
};

// Keeps the record up to date: written before every change, rewritten as each change is given back
// (spare keycodes back: dropped from it; Caps Lock back: its flag cleared) and deleted once nothing is
// left to give back, whether the typing succeeded or not. Once written, the record is only rewritten while
// it is still ours (its nonce), checked under a server grab: a client that took the typing lock from us
// may have written its own.
class Journal {
  public:
    Journal(Connection& keyboard, const Keymap& map, KeyCode shift, KeyCode levelThree)
        : keyboard_(keyboard) {
        record_.nonce = static_cast<long>(std::random_device{}() & 0x7FFFFFFF);
        record_.minKeycode = map.minKeycode;
        record_.maxKeycode = map.maxKeycode;
        record_.shift = shift;
        record_.levelThree = levelThree;
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    Status capsLockOff();
    Status capsLockBack();
    Status groupLocked(int groupBefore);
    Status groupBack();
    // Recorded before the spare keycodes go from before to after (groups * levels keysyms per keycode
    // each, key type type in every group).
    Status remap(const std::vector<KeyCode>& keycodes, int levels, int groups, int type,
                 const std::vector<KeySym>& before, const std::vector<KeySym>& after);
    Status spareKeycodesBack();

  private:
    Status store();

    // The record on the root window is gone or carries our nonce.
    bool stillOurs();

    Connection& keyboard_;
    KeymapRecord record_;
    bool written_ = false;
    bool disowned_ = false;
};

// Whether keycode holds exactly row (groups * levels keysyms) as typing gives it to a spare keycode:
// groups groups of the key type type, levels wide. An empty row: the keycode holds no keysym at all.
bool holdsExactly(XkbDescPtr xkb, int keycode, int type, int levels, int groups, const KeySym* row);

// Ownership of the typing selection for the duration: two typing clients on one display would fight
// over the same spare keycodes, and a record whose writer still types is not a leftover. It is taken under
// a server grab, so that no other client can take it between our look at its owner and our claim, and with
// a time of the server's clock, so that giving it up does nothing once another client has taken it since.
// A client that ignores the lock can still take it from us; the typing notices (typingLockHeld) and stops.
// The server gives it up for us when our connection ends.
class TypingLock {
  public:
    explicit TypingLock(Connection& keyboard) : keyboard_(keyboard) {}
    ~TypingLock() {
        if (owned_) {
            XSetSelectionOwner(keyboard_.display, keyboard_.lockAtom, 0, keyboard_.lockTime);
            IgnoreFailure(keyboard_.sync("ending the typing"), "the next typing takes the lock afresh");
        }
    }
    TypingLock(const TypingLock&) = delete;
    TypingLock& operator=(const TypingLock&) = delete;

    Status take();

  private:
    Connection& keyboard_;
    bool owned_ = false;
};

// Undoes what a killed typing of ours left behind, as its record says: the modifier keys and spare
// keycodes it may have left pressed are released, the spare keycodes it changed are emptied, Caps Lock
// goes back on and the keyboard group it locked goes back to the one before. Only a record that is wholly
// well-formed and was written for this keymap (its keycode range) is acted on, and of the keycodes it names
// only those that are spare by the rule typing picks them with (bound to no modifier) and still hold exactly
// what the record says typing gave them (or held before the change under way): the recorded groups of the key
// type typing uses, with those keysyms. A keycode someone else has changed since is not ours to touch. A
// property of another type is another client's and left alone; a malformed record of ours is deleted. Nothing
// is done while another client types (the typing lock is held for the repair).
void repairLeftovers(Connection& keyboard);

}  // namespace varnel::x11keyboard
