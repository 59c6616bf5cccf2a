#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/x11/X11KeyboardConnection.h"
#include "platform/x11/X11KeyboardJournal.h"
#include "platform/x11/X11KeyboardSpareKeys.h"

namespace varnel::x11keyboard {

namespace {

// Escape grabbed on the root window while we type: the user's way to stop a long typing. Where another
// client holds that grab, Escape is polled between slices instead.
class EscapeWatch {
  public:
    explicit EscapeWatch(Connection& keyboard) : keyboard_(keyboard) {
        keyboard_.escapePressed = false;
        keyboard_.escapeKeycode = XKeysymToKeycode(keyboard_.display, XK_Escape);
        if (keyboard_.escapeKeycode != 0) {
            XGrabKey(keyboard_.display, keyboard_.escapeKeycode, AnyModifier, keyboard_.root, False,
                     GrabModeAsync, GrabModeAsync);
            grabbed_ = keyboard_.sync("grabbing Escape").ok();
        }
    }
    ~EscapeWatch() {
        if (grabbed_) {
            XUngrabKey(keyboard_.display, keyboard_.escapeKeycode, AnyModifier, keyboard_.root);
            keyboard_.sync("releasing Escape");
        }
        keyboard_.escapeKeycode = 0;
    }
    EscapeWatch(const EscapeWatch&) = delete;
    EscapeWatch& operator=(const EscapeWatch&) = delete;

    bool pressed() {
        if (!keyboard_.escapePressed && !grabbed_ && keyboard_.escapeDown()) {
            keyboard_.escapePressed = true;
        }
        return keyboard_.escapePressed;
    }

  private:
    Connection& keyboard_;
    bool grabbed_ = false;
};

// Keys we hold down; whatever is still down is released when this goes, whatever happened in between.
class HeldKeys {
  public:
    explicit HeldKeys(Connection& keyboard) : keyboard_(keyboard) {}
    ~HeldKeys() { releaseAll(); }
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

    Status press(KeyCode keycode) {
        Status status = keyboard_.key(keycode, true);
        if (status) {
            held_.push_back(keycode);
        }
        return status;
    }
    Status release(KeyCode keycode) {
        auto it = std::find(held_.begin(), held_.end(), keycode);
        if (it == held_.end()) {
            return Status::success();
        }
        held_.erase(it);
        return keyboard_.key(keycode, false);
    }
    bool isHeld(KeyCode keycode) const {
        return std::find(held_.begin(), held_.end(), keycode) != held_.end();
    }
    Status releaseAll() {
        Status first = Status::success();
        while (!held_.empty()) {
            Status status = release(held_.back());
            if (!status && first) {
                first = status;
            }
        }
        Status synced = keyboard_.sync("releasing keys");
        return first ? synced : first;
    }

  private:
    Connection& keyboard_;
    std::vector<KeyCode> held_;
};

// Caps Lock turned off while typing (it would change the case of letters), and on again afterwards.
class CapsLockOff {
  public:
    CapsLockOff(Connection& keyboard, Journal& journal) : keyboard_(keyboard), journal_(journal) {}
    ~CapsLockOff() { restore(); }
    CapsLockOff(const CapsLockOff&) = delete;
    CapsLockOff& operator=(const CapsLockOff&) = delete;

    Status apply(bool lockOn) {
        if (!lockOn) {
            return Status::success();
        }
        if (Status recorded = journal_.capsLockOff(); !recorded) {
            return recorded;
        }
        XkbLockModifiers(keyboard_.display, XkbUseCoreKbd, LockMask, 0);
        changed_ = true;
        return keyboard_.sync("releasing Caps Lock");
    }
    Status restore() {
        if (!changed_) {
            return Status::success();
        }
        changed_ = false;
        XkbLockModifiers(keyboard_.display, XkbUseCoreKbd, LockMask, LockMask);
        Status status = keyboard_.sync("restoring Caps Lock");
        return status ? journal_.capsLockBack() : status;
    }

  private:
    Connection& keyboard_;
    Journal& journal_;
    bool changed_ = false;
};

}  // namespace

Status pressChord(Connection& keyboard, KeySym modifier, KeySym key, const std::string& what) {
    Result<Keymap> map = keyboard.readKeymap();
    if (!map) {
        return Status::failure(map.error());
    }
    Result<std::vector<bool>> modifiers = keyboard.modifierKeycodes();
    if (!modifiers) {
        return Status::failure(modifiers.error());
    }
    const std::vector<bool> none(256, false);
    const std::optional<KeyCode> modifierKey = map.value().find(modifier, none);
    const std::optional<KeyCode> mainKey = map.value().find(key, modifiers.value());
    if (!modifierKey || !mainKey) {
        return Status::failure(what + ": the keymap has no " +
                               XKeysymToString(!modifierKey ? modifier : key) + " key");
    }
    HeldKeys held(keyboard);
    Status status = held.press(*modifierKey);
    if (status) {
        status = held.press(*mainKey);
    }
    if (status) {
        status = held.release(*mainKey);
    }
    if (status) {
        status = held.release(*modifierKey);
    }
    return firstFailure(status, held.releaseAll());
}

Status typeText(Connection& keyboard, const std::u16string& text,
                const Keyboard::BetweenSlices& betweenSlices) {
    keyboard.stats = X11Keyboard::TypingStats{};
    if (text.empty()) {
        return Status::success();
    }
    const std::vector<std::uint32_t> keysyms = X11Keyboard::keysymsFor(text);

    Result<Keymap> current = keyboard.readKeymap();
    if (!current) {
        return Status::failure(current.error());
    }
    const Keymap& map = current.value();
    Result<std::vector<bool>> modifierResult = keyboard.modifierKeycodes();
    if (!modifierResult) {
        return Status::failure(modifierResult.error());
    }
    const std::vector<bool>& modifiers = modifierResult.value();
    const std::optional<KeyCode> shiftKey = map.find(XK_Shift_L, std::vector<bool>(256, false));
    if (!shiftKey) {
        return Status::failure("typing: the keymap has no Shift_L key");
    }

    // The keyboard group decides which columns of the core mapping the keys type; Caps Lock is switched
    // off for the duration.
    // The spare keycodes carry up to four groups where the keyboard group is only locked (no group key
    // held or latched): the group is then locked for the characters of the second to fourth.
    int group = 0;
    int lockedGroup = 0;
    bool groupsUsable = false;
    bool capsLock = false;
    std::optional<LevelThree> levelThree;
    std::unique_ptr<XkbDescRec, XkbDeleter> keyGroups;
    if (keyboard.xkb) {
        XkbStateRec state{};
        if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) == Success) {
            group = state.group;
            lockedGroup = state.locked_group;
            groupsUsable =
                state.base_group == 0 && state.latched_group == 0 && state.group == state.locked_group;
            capsLock = (state.locked_mods & LockMask) != 0;
        }
        if (Status status = keyboard.sync("reading the keyboard state"); !status) {
            return status;
        }
        levelThree = findLevelThree(keyboard, map);
        keyGroups.reset(XkbGetMap(keyboard.display, XkbKeySymsMask, XkbUseCoreKbd));
        if (!keyGroups) {
            keyboard.sync("reading the keyboard map");
            groupsUsable = false;
        }
    }
    // A key of one group types the same in every group; another needs the group the user had locked.
    auto groupFor = [&](int keycode) {
        return !groupsUsable || XkbKeyNumGroups(keyGroups.get(), keycode) <= 1 ? AnyGroup : lockedGroup;
    };

    std::unordered_map<KeySym, Stroke> direct;
    if (group < 2) {
        for (int level = 0; level < 2; ++level) {
            for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
                const KeySym sym = map.at(k, 2 * group + level);
                if (sym != NoSymbol && !modifiers[static_cast<std::size_t>(k)] && direct.count(sym) == 0) {
                    direct.emplace(sym, Stroke{static_cast<KeyCode>(k), level, groupFor(k)});
                }
            }
        }
    }
    std::vector<KeyCode> spare;
    for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
        if (map.isEmpty(k) && !modifiers[static_cast<std::size_t>(k)]) {
            spare.push_back(static_cast<KeyCode>(k));
        }
    }
    const int levels = levelThree ? 4 : 2;
    // As many groups as lower the number of remaps, and no more: every group switch costs a round trip.
    auto remaps = [](const std::vector<Stretch>& plan) {
        return std::count_if(plan.begin(), plan.end(), [](const Stretch& s) { return !s.symbols.empty(); });
    };
    const int maxGroups = groupsUsable && keyboard.options.extraGroups ? XkbNumKbdGroups : 1;
    const std::size_t perGroup = static_cast<std::size_t>(levels) * spare.size();
    std::vector<Stretch> stretches = planStretches(keysyms, direct, perGroup * maxGroups);
    int groups = maxGroups;
    for (int fewer = maxGroups - 1; fewer >= 1; --fewer) {
        std::vector<Stretch> plan =
            planStretches(keysyms, direct, perGroup * static_cast<std::size_t>(fewer));
        if (remaps(plan) > remaps(stretches)) {
            break;
        }
        stretches = std::move(plan);
        groups = fewer;
    }
    if (spare.empty()) {
        for (const Stretch& stretch : stretches) {
            if (!stretch.symbols.empty()) {
                return Status::failure("typing: the keymap has no spare keycode for keysym 0x" +
                                       hex(static_cast<std::uint32_t>(stretch.symbols.front())));
            }
        }
    }
    keyboard.stats.spareKeycodes = static_cast<int>(spare.size());
    keyboard.stats.levelsPerKeycode = levels;
    keyboard.stats.groupsPerKeycode = groups;
    keyboard.stop = false;
    keyboard.betweenSlices = &betweenSlices;
    struct ForgetHook {
        Connection& keyboard;
        ~ForgetHook() { keyboard.betweenSlices = nullptr; }
    } forgetHook{keyboard};

    TypingLock lock(keyboard);
    if (Status status = lock.take(); !status) {
        return status;
    }
    Result<bool> released = keyboard.waitForModifierRelease(modifiers);
    if (!released) {
        return Status::failure(released.error());
    }
    keyboard.stats.modifiersStillHeld = !released.value();

    // The target paces the batches if it answers pings; the answers come to the root window.
    keyboard.findPingTarget();
    XSelectInput(keyboard.display, keyboard.root, SubstructureNotifyMask);
    struct StopListening {
        Connection& keyboard;
        ~StopListening() { XSelectInput(keyboard.display, keyboard.root, NoEventMask); }
    } stopListening{keyboard};
    keyboard.targetAnswers = false;
    keyboard.ximFailed = false;
    struct DisconnectXim {
        Connection& keyboard;
        ~DisconnectXim() { keyboard.disconnectXim(); }
    } disconnectXim{keyboard};
    if (std::any_of(stretches.begin(), stretches.end(),
                    [](const Stretch& s) { return !s.symbols.empty(); })) {
        keyboard.probeTarget();
        keyboard.connectXim();
    }

    // Destroyed in reverse: Escape given back, keys released, then the spare keycodes emptied, then Caps
    // Lock back on; the record is cleared once all of that worked.
    Journal journal(keyboard, map, *shiftKey, levelThree ? levelThree->key : 0);
    CapsLockOff lockOff(keyboard, journal);
    SpareKeycodes spareKeys(keyboard, journal, spare, levels, groups,
                            levelThree ? levelThree->type : XkbTwoLevelIndex);
    GroupLock groupLock(keyboard, journal, lockedGroup);
    HeldKeys held(keyboard);
    EscapeWatch escape(keyboard);
    Status status = lockOff.apply(capsLock);

    // The modifier keys a stroke needs: Shift for bit 0 of its level, the Level3 shift for bit 1.
    auto holdModifiers = [&](int level) {
        Status result = Status::success();
        const std::pair<std::optional<KeyCode>, bool> wanted[] = {
            {shiftKey, (level & 1) != 0},
            {levelThree ? std::optional<KeyCode>(levelThree->key) : std::nullopt, (level & 2) != 0}};
        for (const auto& [key, down] : wanted) {
            if (result && key && down != held.isHeld(*key)) {
                result = down ? held.press(*key) : held.release(*key);
            }
        }
        return result;
    };
    // Releases the key just pressed once the server has handled it, and so every key event before it: the
    // key shows down after the press and up after the release (seeing both rules out a press before a
    // freeze and a release held back by it). A ping answered meanwhile would prove nothing: it overtakes
    // key events that a grab holds back, which the target would later look up on another mapping.
    //
    // Under the server grab of another keyboard group the keys are handled at once, unless another
    // client's grab holds them back: that client can only let them go once the server lets it run, and
    // the keys must still find our group then.
    auto releaseHandled = [&](KeyCode keycode) {
        bool heldUnderGrab = false;
        if (groupLock.grabbing()) {
            Result<bool> atOnce = keyboard.waitForKeyState(keycode, true, Clock::now());
            if (!atOnce) {
                return Status::failure(atOnce.error());
            }
            if (!atOnce.value()) {
                heldUnderGrab = true;
                if (Status let = groupLock.letOthersRun(); !let) {
                    return let;
                }
            }
        }
        const auto deadline = Clock::now() + keyboard.options.heldBackBound;
        Result<bool> handled = keyboard.waitForKeyState(keycode, true, deadline);
        Status result = handled ? held.release(keycode) : Status::failure(handled.error());
        if (result && handled.value()) {
            handled = keyboard.waitForKeyState(keycode, false, deadline);
            result = handled ? Status::success() : Status::failure(handled.error());
        }
        if (result && !handled.value()) {
            result = Status::failure("typing: the X server did not handle the keys within " +
                                     std::to_string(keyboard.options.heldBackBound.count()) +
                                     " ms (another program's grab holds the keyboard)");
        }
        if (result && heldUnderGrab && keyboard.lockedGroup() != groupLock.current()) {
            result = Status::failure(
                "typing: another program switched the keyboard group while another "
                "program's grab held the keys back (some may have typed other characters)");
        }
        return result;
    };
    auto sliceStart = Clock::now();
    bool stop = false;
    for (const Stretch& stretch : stretches) {
        if (!status || stop) {
            break;
        }
        std::unordered_map<KeySym, Stroke> remapped;
        if (!stretch.symbols.empty()) {
            status = holdModifiers(0);
            if (status) {
                status = groupLock.leave();
            }
            if (status) {
                status = spareKeys.map(stretch.symbols);
                ++keyboard.stats.batches;
            }
            for (std::size_t i = 0; i < stretch.symbols.size(); ++i) {
                remapped.emplace(stretch.symbols[i], spareKeys.strokeFor(i));
            }
            stop = keyboard.stop;  // the caller may have said so while the target caught up
        }
        for (std::size_t i = stretch.begin; i < stretch.end && status && !stop; ++i) {
            const KeySym sym = keysyms[i];
            bool remappedStroke = false;
            auto it = direct.find(sym);
            if (it == direct.end()) {
                it = remapped.find(sym);
                if (it == remapped.end()) {
                    status = Status::failure("typing: no key for keysym 0x" +
                                             hex(static_cast<std::uint32_t>(sym)));
                    break;
                }
                spareKeys.typed();
                ++keyboard.stats.remappedCharacters;
                remappedStroke = true;
            }
            const Stroke stroke = it->second;
            if (stroke.group != AnyGroup) {
                status = groupLock.lock(stroke.group);
            }
            if (status) {
                status = holdModifiers(stroke.level);
            }
            if (status) {
                status = held.press(stroke.keycode);
            }
            // The focus is asked after every key, in the round trip that waits for the key: once it has gone
            // (a click-to-focus manager moves it as the click arrives) no more keys follow.
            bool focused = true;
            if (status) {
                focused = keyboard.focusStayed();
                status = keyboard.takeEvents("typing");
            }
            if (!status) {
                break;
            }
            ++keyboard.stats.typedCharacters;
            stop = escape.pressed() || keyboard.stop || !focused;
            const bool sliceOver = Clock::now() - sliceStart >= keyboard.options.slice;
            // The next remap, group switch, hook call or the end needs the keys so far handled; in between,
            // the release is checked by the next key's round trip.
            const bool groupSwitchNext = i + 1 < stretch.end && [&] {
                auto next = direct.find(keysyms[i + 1]);
                if (next == direct.end()) {
                    next = remapped.find(keysyms[i + 1]);
                    if (next == remapped.end()) {
                        return false;
                    }
                }
                return next->second.group != AnyGroup && next->second.group != groupLock.current();
            }();
            status = stop || sliceOver || groupSwitchNext || i + 1 == stretch.end
                         ? releaseHandled(stroke.keycode)
                         : held.release(stroke.keycode);
            if (!status) {
                break;
            }
            if (remappedStroke) {
                keyboard.keyEventsToLastSpare = keyboard.keyEventsSinceXim;
            }
            stop = stop || keyboard.stop;  // the hook may have run while the release was waited for
            const bool hookCalled = !stop && sliceOver;
            if (hookCalled) {
                // Nothing held while the caller's events run: a click then is a plain click.
                status = firstFailure(held.releaseAll(), groupLock.leave());
                keyboard.callBetweenSlices();
                stop = escape.pressed() || keyboard.stop;
                sliceStart = Clock::now();
            }
            // A client that took the typing lock from us: its loss comes with any round trip, and is asked
            // outright after the hook.
            if (status && (keyboard.lockLost || hookCalled)) {
                status = keyboard.typingLockHeld();
            }
        }
    }
    keyboard.stats.stopped = stop;
    status = firstFailure(status, held.releaseAll());
    status = firstFailure(status, groupLock.restore());
    status = firstFailure(status, spareKeys.restore());
    status = firstFailure(status, lockOff.restore());
    return status;
}

}  // namespace varnel::x11keyboard

namespace varnel {

Status X11Keyboard::pressPasteKey() {
    return x11keyboard::pressChord(*impl_, XK_Shift_L, XK_Insert, "Shift+Insert");
}

Status X11Keyboard::pressCopyKey() {
    return x11keyboard::pressChord(*impl_, XK_Control_L, XK_Insert, "Ctrl+Insert");
}

Status X11Keyboard::waitUntilSent() {
    Status status = impl_->sync("sending keys");
    impl_->waitForFocusedClient(std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    impl_->waitForXimClient();
    return status;
}

Status X11Keyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    return x11keyboard::typeText(*impl_, text, betweenSlices);
}

}  // namespace varnel
