// The spare keycodes typing remaps, the Level3 shift that gives them four levels, the keyboard group
// locked for their second to fourth groups, and the plan of the remaps. Internal to X11Keyboard.
#pragma once

#include <unordered_map>

#include "platform/x11/X11KeyboardConnection.h"
#include "platform/x11/X11KeyboardJournal.h"

namespace varnel::x11keyboard {

// The key that shifts to levels 3 and 4, and a key type of the keymap that gives four levels for Shift
// and that key's modifier, in the usual order. Empty when the keymap has no such pair.
struct LevelThree {
    KeyCode key = 0;
    int type = -1;
};

std::optional<LevelThree> findLevelThree(Connection& keyboard, const Keymap& map);

// A stretch of the text typed on one mapping of the spare keycodes. symbols are the keysyms the stretch
// needs on spare keycodes (none when it needs no remap), in the order they are assigned.
struct Stretch {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::vector<KeySym> symbols;
};

// Cuts the text into as few stretches as possible, each needing at most capacity distinct keysyms that
// the keymap lacks. Extending a stretch as far as it goes is optimal: a part of a valid stretch is valid.
std::vector<Stretch> planStretches(const std::vector<std::uint32_t>& keysyms,
                                   const std::unordered_map<KeySym, Stroke>& direct, std::size_t capacity);

// The keyboard group locked while typing: the characters on the spare keycodes' second to fourth groups
// are typed with that group locked. The group locked before goes back afterwards.
//
// Another group is locked only under a server grab, for the keys typed in it, and the group before is
// locked again before the grab ends: a desktop component that manages the keyboard layout (mutter does)
// locks its own group back as soon as it sees ours, and a key the server handled after that would type
// another character. No other client's request is handled while we hold the grab, so every key is looked
// up in the group we locked, and the others only ever see the group they left. Nothing that waits on
// another client may run inside: the caller leaves before pings, remaps and its hook.
class GroupLock {
  public:
    GroupLock(Connection& keyboard, Journal& journal, int lockedBefore)
        : keyboard_(keyboard), journal_(journal), before_(lockedBefore), current_(lockedBefore) {}
    ~GroupLock() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    GroupLock(const GroupLock&) = delete;
    GroupLock& operator=(const GroupLock&) = delete;

    int current() const { return current_; }
    bool grabbing() const { return grabbing_; }
    // The keys typed so far must have been handled by the server: they are looked up in the group of
    // their moment.
    Status lock(int group);
    // The group before locked again and the server let go. The keys typed so far must have been handled.
    Status leave();
    // The server let go with our group still locked: for keys that another client's grab holds back (it
    // can only let them go once the others run again). Whether the group then stayed ours until the keys
    // were handled is for the caller to check.
    Status letOthersRun();
    Status restore();

  private:
    Connection& keyboard_;
    Journal& journal_;
    int before_;
    int current_;
    bool changed_ = false;
    bool grabbing_ = false;
};

// The spare keycodes and their mapping while the text is typed. One keymap change covers all of them, and
// the spare keycodes are emptied again when this goes.
class SpareKeycodes {
  public:
    // levels is 2 (type TWO_LEVEL) or 4 (the keymap's four-level type of that index); each spare keycode
    // gets groups groups (1 to 4) of that type.
    SpareKeycodes(Connection& keyboard, Journal& journal, std::vector<KeyCode> keycodes, int levels,
                  int groups, int type)
        : keyboard_(keyboard),
          journal_(journal),
          keycodes_(std::move(keycodes)),
          levels_(levels),
          groups_(groups),
          type_(type),
          current_(capacity(), NoSymbol) {}
    ~SpareKeycodes() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    std::size_t capacity() const { return perKeycode() * keycodes_.size(); }
    // Where symbols[i] lands: the first keycodes * levels symbols in group 1 (keycode by keycode, level by
    // level), the next in group 2 and so on, so that a text needing few symbols switches groups rarely.
    Stroke strokeFor(std::size_t i) const;

    Status map(const std::vector<KeySym>& symbols);
    // Records that keys were typed on the current mapping: it must not change before they are read.
    void typed() { ++typed_; }
    Status restore();

  private:
    std::size_t perKeycode() const { return static_cast<std::size_t>(groups_ * levels_); }

    // Fails with the first error the keys typed on the current mapping met.
    Status waitForTypedKeys();

    Status write(const std::vector<KeySym>& levels);

    // One XKB map change for the range from the lowest to the highest spare keycode. The keys in between
    // go back exactly as the server holds them at this moment; a core mapping change would make the server
    // re-derive their XKB types and groups from the core symbols, which does not give back what was there
    // (keys with five levels gain a second group, for one).
    Status writeXkb(const std::vector<KeySym>& levels);

    // Without XKB (two levels, one group): one core change for the range from the lowest to the highest
    // spare keycode, the keys in between given back what they hold.
    Status writeCore(const std::vector<KeySym>& levels);

    Connection& keyboard_;
    Journal& journal_;
    std::vector<KeyCode> keycodes_;
    int levels_;
    int groups_;
    int type_;
    std::vector<KeySym> current_;  // what the spare keycodes hold now
    bool mapped_ = false;
    int typed_ = 0;  // keys typed on the current mapping
};

}  // namespace varnel::x11keyboard
