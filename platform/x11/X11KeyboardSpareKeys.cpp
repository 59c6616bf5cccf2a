#include "platform/x11/X11KeyboardSpareKeys.h"

#include <algorithm>

namespace varnel::x11keyboard {

std::optional<LevelThree> findLevelThree(Connection& keyboard, const Keymap& map) {
    std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
        XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbModifierMapMask, XkbUseCoreKbd));
    if (!xkb || xkb->map == nullptr || xkb->map->modmap == nullptr) {
        IgnoreFailure(keyboard.sync("reading the keyboard map"), "the map is missing either way");
        return std::nullopt;
    }
    LevelThree found;
    unsigned mask = 0;
    for (int k = map.minKeycode; k <= map.maxKeycode && found.key == 0; ++k) {
        const unsigned mods =
            xkb->map->modmap[k] & ~static_cast<unsigned>(ShiftMask | LockMask | ControlMask);
        if (map.at(k, 0) == XK_ISO_Level3_Shift && mods != 0) {
            found.key = static_cast<KeyCode>(k);
            mask = mods;
        }
    }
    for (int t = 0; t < xkb->map->num_types && found.key != 0 && found.type < 0; ++t) {
        const XkbKeyTypeRec& type = xkb->map->types[t];
        auto level = [&type](unsigned mods) {
            mods &= type.mods.mask;
            for (int e = 0; e < type.map_count; ++e) {
                if (type.map[e].active && type.map[e].mods.mask == mods) {
                    return static_cast<int>(type.map[e].level);
                }
            }
            return 0;
        };
        if (type.num_levels == 4 && level(0) == 0 && level(ShiftMask) == 1 && level(mask) == 2 &&
            level(ShiftMask | mask) == 3) {
            found.type = t;
        }
    }
    if (found.type < 0) {
        return std::nullopt;
    }
    return found;
}

// Cuts the text into as few stretches as possible, each needing at most capacity distinct keysyms that
// the keymap lacks. Extending a stretch as far as it goes is optimal: a part of a valid stretch is valid.
std::vector<Stretch> planStretches(const std::vector<std::uint32_t>& keysyms,
                                   const std::unordered_map<KeySym, Stroke>& direct, std::size_t capacity) {
    std::vector<Stretch> stretches(1);
    std::vector<KeySym>* symbols = &stretches.back().symbols;
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const KeySym sym = keysyms[i];
        if (direct.count(sym) != 0 || std::find(symbols->begin(), symbols->end(), sym) != symbols->end()) {
            continue;
        }
        if (symbols->size() == capacity) {
            stretches.back().end = i;
            stretches.push_back(Stretch{i, i, {}});
            symbols = &stretches.back().symbols;
        }
        symbols->push_back(sym);
    }
    stretches.back().end = keysyms.size();
    return stretches;
}

Status GroupLock::lock(int group) {
    if (group == before_) {
        return leave();
    }
    if (group == current_ && grabbing_) {
        return Status::success();
    }
    if (!changed_) {
        if (Status recorded = journal_.groupLocked(before_); !recorded) {
            return recorded;
        }
        changed_ = true;
    }
    if (!grabbing_) {
        XGrabServer(keyboard_.display);
        grabbing_ = true;
    }
    // Locked again after the server let go for held-back keys: another client may have changed it.
    XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(group));
    keyboard_.stats.groupSwitches += group != current_ ? 1 : 0;
    current_ = group;
    return Status::success();
}

Status GroupLock::leave() {
    if (current_ != before_) {
        XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(before_));
        current_ = before_;
    }
    return letOthersRun();
}

Status GroupLock::letOthersRun() {
    if (!grabbing_) {
        return Status::success();
    }
    grabbing_ = false;
    XUngrabServer(keyboard_.display);
    return keyboard_.sync("letting other clients run");
}

Status GroupLock::restore() {
    Status status = leave();
    if (!changed_) {
        return status;
    }
    changed_ = false;
    XkbLockGroup(keyboard_.display, XkbUseCoreKbd, static_cast<unsigned>(before_));
    current_ = before_;
    status = firstFailure(status, keyboard_.sync("giving the keyboard group back"));
    return status ? journal_.groupBack() : status;
}

Stroke SpareKeycodes::strokeFor(std::size_t i) const {
    const auto levels = static_cast<std::size_t>(levels_);
    const std::size_t perGroup = levels * keycodes_.size();
    const std::size_t inGroup = i % perGroup;
    return Stroke{keycodes_[inGroup / levels], static_cast<int>(inGroup % levels),
                  groups_ == 1 ? AnyGroup : static_cast<int>(i / perGroup)};
}

Status SpareKeycodes::map(const std::vector<KeySym>& symbols) {
    // Row by row: per keycode its groups one after the other, each levels wide.
    std::vector<KeySym> rows(capacity(), NoSymbol);
    const auto levels = static_cast<std::size_t>(levels_);
    const std::size_t perGroup = levels * keycodes_.size();
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::size_t group = i / perGroup, keycode = i % perGroup / levels, level = i % levels;
        rows[keycode * perKeycode() + group * levels + level] = symbols[i];
    }
    if (Status typed = waitForTypedKeys(); !typed) {
        return typed;
    }
    if (Status held = keyboard_.typingLockHeld(); !held) {
        return held;
    }
    Status status = write(rows);
    if (status && !keyboard_.targetAnswers) {
        keyboard_.settle();
    }
    return status;
}

Status SpareKeycodes::restore() {
    if (!mapped_) {
        return Status::success();
    }
    const Status typed = waitForTypedKeys();
    Status status = write(std::vector<KeySym>(capacity(), NoSymbol));
    mapped_ = false;  // one attempt; a failed restore is reported, not retried forever
    return firstFailure(typed, status ? journal_.spareKeycodesBack() : status);
}

Status SpareKeycodes::waitForTypedKeys() {
    if (typed_ == 0) {
        return Status::success();
    }
    Status status = keyboard_.sync("typing");
    keyboard_.waitForTarget();
    typed_ = 0;
    return status;
}

Status SpareKeycodes::write(const std::vector<KeySym>& levels) {
    if (Status recorded = journal_.remap(keycodes_, levels_, groups_, type_, current_, levels); !recorded) {
        return recorded;
    }
    mapped_ = true;
    Status status = keyboard_.xkb ? writeXkb(levels) : writeCore(levels);
    status = firstFailure(status, keyboard_.sync("changing the keyboard mapping"));
    if (status) {
        current_ = levels;
    }
    return status;
}

Status SpareKeycodes::writeXkb(const std::vector<KeySym>& levels) {
    std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
        XkbGetMap(keyboard_.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
    if (!xkb) {
        return firstFailure(keyboard_.sync("reading the keyboard map"),
                            Status::failure("the keyboard map could not be read"));
    }
    XkbMapChangesRec changes{};
    const std::size_t per = perKeycode();
    const bool emptying =
        std::all_of(levels.begin(), levels.end(), [](KeySym sym) { return sym == NoSymbol; });
    for (std::size_t i = 0; i < keycodes_.size(); ++i) {
        // A spare keycode another client has changed since is its own now: never overwritten, and left
        // as it is when we give the keycodes back.
        if (!holdsExactly(xkb.get(), keycodes_[i], type_, levels_, groups_, current_.data() + per * i)) {
            if (emptying) {
                continue;
            }
            return Status::failure("typing: another program changed the spare keycode " +
                                   std::to_string(keycodes_[i]));
        }
        const auto first = levels.begin() + static_cast<std::ptrdiff_t>(per * i);
        if (std::all_of(first, first + static_cast<std::ptrdiff_t>(per),
                        [](KeySym sym) { return sym == NoSymbol; })) {
            if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], 0, XkbGroup1Mask, nullptr, &changes) !=
                Success) {
                return Status::failure("a spare keycode could not be emptied");
            }
            continue;
        }
        int types[XkbNumKbdGroups] = {type_, type_, type_, type_};
        const unsigned groupMask = (1u << groups_) - 1;
        KeySym* syms = nullptr;
        if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], groups_, groupMask, types, &changes) == Success) {
            syms = XkbResizeKeySyms(xkb.get(), keycodes_[i], static_cast<int>(per));
        }
        if (syms == nullptr) {
            return Status::failure("a spare keycode could not be given keysyms");
        }
        std::copy(first, first + static_cast<std::ptrdiff_t>(per), syms);
    }
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = *std::min_element(keycodes_.begin(), keycodes_.end());
    changes.num_key_syms = static_cast<unsigned char>(*std::max_element(keycodes_.begin(), keycodes_.end()) -
                                                      changes.first_key_sym + 1);
    ++keyboard_.stats.keymapChanges;
    if (!XkbChangeMap(keyboard_.display, xkb.get(), &changes)) {
        return Status::failure("the keyboard map could not be changed");
    }
    return Status::success();
}

Status SpareKeycodes::writeCore(const std::vector<KeySym>& levels) {
    const KeyCode first = *std::min_element(keycodes_.begin(), keycodes_.end());
    const int count = *std::max_element(keycodes_.begin(), keycodes_.end()) - first + 1;
    int held = 0;
    std::unique_ptr<KeySym, XFreeDeleter> current(
        XGetKeyboardMapping(keyboard_.display, first, count, &held));
    if (!current || held <= 0) {
        return firstFailure(keyboard_.sync("reading the keyboard mapping"),
                            Status::failure("the keyboard mapping could not be read"));
    }
    const int per = std::max(held, 2);
    std::vector<KeySym> syms(static_cast<std::size_t>(count * per), NoSymbol);
    for (int k = 0; k < count; ++k) {
        std::copy(current.get() + k * held, current.get() + (k + 1) * held,
                  syms.begin() + static_cast<std::ptrdiff_t>(k * per));
    }
    for (std::size_t i = 0; i < keycodes_.size(); ++i) {
        const auto row = syms.begin() + static_cast<std::ptrdiff_t>((keycodes_[i] - first) * per);
        std::fill(row, row + per, NoSymbol);
        row[0] = levels[2 * i];
        row[1] = levels[2 * i + 1];
    }
    ++keyboard_.stats.keymapChanges;
    XChangeKeyboardMapping(keyboard_.display, first, per, syms.data(), count);
    return Status::success();
}

}  // namespace varnel::x11keyboard
