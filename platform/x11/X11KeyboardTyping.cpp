#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/keysyms/Keysyms.h"
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
            IgnoreFailure(keyboard_.sync("releasing Escape"), "a grab of a lost connection is gone with it");
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
    ~HeldKeys() {
        IgnoreFailure(
            releaseAll(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
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
    ~CapsLockOff() {
        IgnoreFailure(
            restore(),
            "the typing released it already and reported how; this only runs where it was left early");
    }
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

// What typing a text needs, read from the keymap and the keyboard's state before anything changes.
struct TypingPlan {
    std::vector<std::uint32_t> keysyms;
    Keymap map;
    std::vector<bool> modifiers;  // keycodes bound to a modifier
    KeyCode shiftKey = 0;
    std::optional<LevelThree> levelThree;
    int lockedGroup = 0;  // the group the user has locked
    bool capsLock = false;
    // The characters the keymap carries, and where the others go: the stretches of the text, each typed
    // on one mapping of the spare keycodes, with levels levels and groups groups on each.
    std::unordered_map<KeySym, Stroke> direct;
    std::vector<KeyCode> spare;
    int levels = 2;
    int groups = 1;
    std::vector<Stretch> stretches;
};

// The keyboard group decides which columns of the core mapping the keys type; Caps Lock is switched
// off for the duration.
// The spare keycodes carry up to four groups where the keyboard group is only locked (no group key
// held or latched): the group is then locked for the characters of the second to fourth.
struct GroupState {
    int group = 0;
    bool groupsUsable = false;
    std::unique_ptr<XkbDescRec, XkbDeleter> keyGroups;
};

Status readGroupState(Connection& keyboard, TypingPlan& plan, GroupState& state) {
    if (!keyboard.xkb) {
        return Status::success();
    }
    XkbStateRec xkbState{};
    if (XkbGetState(keyboard.display, XkbUseCoreKbd, &xkbState) == Success) {
        state.group = xkbState.group;
        plan.lockedGroup = xkbState.locked_group;
        state.groupsUsable = xkbState.base_group == 0 && xkbState.latched_group == 0 &&
                             xkbState.group == xkbState.locked_group;
        plan.capsLock = (xkbState.locked_mods & LockMask) != 0;
    }
    if (Status status = keyboard.sync("reading the keyboard state"); !status) {
        return status;
    }
    plan.levelThree = findLevelThree(keyboard, plan.map);
    state.keyGroups.reset(XkbGetMap(keyboard.display, XkbKeySymsMask, XkbUseCoreKbd));
    if (!state.keyGroups) {
        IgnoreFailure(keyboard.sync("reading the keyboard map"), "the groups go unused either way");
        state.groupsUsable = false;
    }
    return Status::success();
}

// The keys of the keymap that type a character at the first two levels of the current group (bound to
// no modifier); the first key found for a keysym wins.
void findDirectStrokes(TypingPlan& plan, const GroupState& state) {
    // A key of one group types the same in every group; another needs the group the user had locked.
    auto groupFor = [&](int keycode) {
        return !state.groupsUsable || XkbKeyNumGroups(state.keyGroups.get(), keycode) <= 1 ? AnyGroup
                                                                                           : plan.lockedGroup;
    };
    const Keymap& map = plan.map;
    if (state.group < 2) {
        for (int level = 0; level < 2; ++level) {
            for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
                const KeySym sym = map.at(k, 2 * state.group + level);
                if (sym != NoSymbol && !plan.modifiers[static_cast<std::size_t>(k)] &&
                    plan.direct.count(sym) == 0) {
                    plan.direct.emplace(sym, Stroke{static_cast<KeyCode>(k), level, groupFor(k)});
                }
            }
        }
    }
    for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
        if (map.isEmpty(k) && !plan.modifiers[static_cast<std::size_t>(k)]) {
            plan.spare.push_back(static_cast<KeyCode>(k));
        }
    }
}

// Cuts the text into stretches with as many groups per spare keycode as lower the number of remaps, and
// no more: every group switch costs a round trip.
void planRemaps(const Connection& keyboard, TypingPlan& plan, bool groupsUsable) {
    plan.levels = plan.levelThree ? 4 : 2;
    auto remaps = [](const std::vector<Stretch>& stretches) {
        return std::count_if(stretches.begin(), stretches.end(),
                             [](const Stretch& s) { return !s.symbols.empty(); });
    };
    const int maxGroups = groupsUsable && keyboard.options.extraGroups ? XkbNumKbdGroups : 1;
    const std::size_t perGroup = static_cast<std::size_t>(plan.levels) * plan.spare.size();
    plan.stretches = planStretches(plan.keysyms, plan.direct, perGroup * maxGroups);
    plan.groups = maxGroups;
    for (int fewer = maxGroups - 1; fewer >= 1; --fewer) {
        std::vector<Stretch> stretches =
            planStretches(plan.keysyms, plan.direct, perGroup * static_cast<std::size_t>(fewer));
        if (remaps(stretches) > remaps(plan.stretches)) {
            break;
        }
        plan.stretches = std::move(stretches);
        plan.groups = fewer;
    }
}

bool needsRemaps(const TypingPlan& plan) {
    return std::any_of(plan.stretches.begin(), plan.stretches.end(),
                       [](const Stretch& s) { return !s.symbols.empty(); });
}

Result<TypingPlan> planTyping(Connection& keyboard, const std::u16string& text) {
    TypingPlan plan;
    plan.keysyms = KeysymsFor(text);
    Result<Keymap> current = keyboard.readKeymap();
    if (!current) {
        return Result<TypingPlan>::failure(current.error());
    }
    plan.map = current.value();
    Result<std::vector<bool>> modifierResult = keyboard.modifierKeycodes();
    if (!modifierResult) {
        return Result<TypingPlan>::failure(modifierResult.error());
    }
    plan.modifiers = modifierResult.value();
    const std::optional<KeyCode> shiftKey = plan.map.find(XK_Shift_L, std::vector<bool>(256, false));
    if (!shiftKey) {
        return Result<TypingPlan>::failure("typing: the keymap has no Shift_L key");
    }
    plan.shiftKey = *shiftKey;
    GroupState state;
    if (Status status = readGroupState(keyboard, plan, state); !status) {
        return Result<TypingPlan>::failure(status.error());
    }
    findDirectStrokes(plan, state);
    planRemaps(keyboard, plan, state.groupsUsable);
    if (plan.spare.empty()) {
        for (const Stretch& stretch : plan.stretches) {
            if (!stretch.symbols.empty()) {
                return Result<TypingPlan>::failure("typing: the keymap has no spare keycode for keysym 0x" +
                                                   hex(static_cast<std::uint32_t>(stretch.symbols.front())));
            }
        }
    }
    return Result<TypingPlan>::success(std::move(plan));
}

// Types a planned text: the keys, the spare keycodes' mappings, the keyboard group and Caps Lock for the
// duration. Destroyed in reverse: Escape given back, keys released, then the spare keycodes emptied, then
// Caps Lock back on; the record is cleared once all of that worked.
class Typist {
  public:
    Typist(Connection& keyboard, const TypingPlan& plan)
        : keyboard_(keyboard),
          plan_(plan),
          journal_(keyboard, plan.map, plan.shiftKey, plan.levelThree ? plan.levelThree->key : 0),
          lockOff_(keyboard, journal_),
          spareKeys_(keyboard, journal_, plan.spare, plan.levels, plan.groups,
                     plan.levelThree ? plan.levelThree->type : XkbTwoLevelIndex),
          groupLock_(keyboard, journal_, plan.lockedGroup),
          held_(keyboard),
          escape_(keyboard) {}
    Typist(const Typist&) = delete;
    Typist& operator=(const Typist&) = delete;

    Status type() {
        Status status = lockOff_.apply(plan_.capsLock);
        sliceStart_ = Clock::now();
        for (const Stretch& stretch : plan_.stretches) {
            if (!status || stop_) {
                break;
            }
            status = typeStretch(stretch);
        }
        keyboard_.stats.stopped = stop_;
        status = firstFailure(status, held_.releaseAll());
        status = firstFailure(status, groupLock_.restore());
        status = firstFailure(status, spareKeys_.restore());
        status = firstFailure(status, lockOff_.restore());
        return status;
    }

  private:
    // Maps the stretch's keysyms on the spare keycodes, then types its characters.
    Status typeStretch(const Stretch& stretch) {
        Status status = Status::success();
        remapped_.clear();
        if (!stretch.symbols.empty()) {
            status = holdModifiers(0);
            if (status) {
                status = groupLock_.leave();
            }
            if (status) {
                status = spareKeys_.map(stretch.symbols);
                ++keyboard_.stats.batches;
            }
            for (std::size_t i = 0; i < stretch.symbols.size(); ++i) {
                remapped_.emplace(stretch.symbols[i], spareKeys_.strokeFor(i));
            }
            stop_ = keyboard_.stop;  // the caller may have said so while the target caught up
        }
        for (std::size_t i = stretch.begin; i < stretch.end && status && !stop_; ++i) {
            status = typeCharacter(i, stretch);
        }
        return status;
    }

    // The stroke typing keysym: on the keymap's own key, or on the spare keycode it is mapped on now.
    const Stroke* strokeFor(KeySym sym) const {
        auto it = plan_.direct.find(sym);
        if (it == plan_.direct.end()) {
            it = remapped_.find(sym);
            if (it == remapped_.end()) {
                return nullptr;
            }
        }
        return &it->second;
    }

    Status typeCharacter(std::size_t i, const Stretch& stretch) {
        const KeySym sym = plan_.keysyms[i];
        const Stroke* found = strokeFor(sym);
        if (found == nullptr) {
            return Status::failure("typing: no key for keysym 0x" + hex(static_cast<std::uint32_t>(sym)));
        }
        const Stroke stroke = *found;
        const bool remappedStroke = plan_.direct.count(sym) == 0;
        if (remappedStroke) {
            spareKeys_.typed();
            ++keyboard_.stats.remappedCharacters;
        }
        Status status = Status::success();
        if (stroke.group != AnyGroup) {
            status = groupLock_.lock(stroke.group);
        }
        if (status) {
            status = holdModifiers(stroke.level);
        }
        if (status) {
            status = held_.press(stroke.keycode);
        }
        // The focus is asked after every key, in the round trip that waits for the key: once it has gone
        // (a click-to-focus manager moves it as the click arrives) no more keys follow.
        bool focused = true;
        if (status) {
            focused = keyboard_.focusStayed();
            status = keyboard_.takeEvents("typing");
        }
        if (!status) {
            return status;
        }
        ++keyboard_.stats.typedCharacters;
        stop_ = escape_.pressed() || keyboard_.stop || !focused;
        const bool sliceOver = Clock::now() - sliceStart_ >= keyboard_.options.slice;
        // The next remap, group switch, hook call or the end needs the keys so far handled; in between,
        // the release is checked by the next key's round trip.
        const bool groupSwitchNext = i + 1 < stretch.end && [&] {
            const Stroke* next = strokeFor(plan_.keysyms[i + 1]);
            return next != nullptr && next->group != AnyGroup && next->group != groupLock_.current();
        }();
        status = stop_ || sliceOver || groupSwitchNext || i + 1 == stretch.end
                     ? releaseHandled(stroke.keycode)
                     : held_.release(stroke.keycode);
        if (!status) {
            return status;
        }
        if (remappedStroke) {
            keyboard_.keyEventsToLastSpare = keyboard_.keyEventsSinceXim;
        }
        stop_ = stop_ || keyboard_.stop;  // the hook may have run while the release was waited for
        const bool hookCalled = !stop_ && sliceOver;
        if (hookCalled) {
            // Nothing held while the caller's events run: a click then is a plain click.
            status = firstFailure(held_.releaseAll(), groupLock_.leave());
            keyboard_.callBetweenSlices();
            stop_ = escape_.pressed() || keyboard_.stop;
            sliceStart_ = Clock::now();
        }
        // A client that took the typing lock from us: its loss comes with any round trip, and is asked
        // outright after the hook.
        if (status && (keyboard_.lockLost || hookCalled)) {
            status = keyboard_.typingLockHeld();
        }
        return status;
    }

    // The modifier keys a stroke needs: Shift for bit 0 of its level, the Level3 shift for bit 1.
    Status holdModifiers(int level) {
        Status result = Status::success();
        const std::pair<std::optional<KeyCode>, bool> wanted[] = {
            {plan_.shiftKey, (level & 1) != 0},
            {plan_.levelThree ? std::optional<KeyCode>(plan_.levelThree->key) : std::nullopt,
             (level & 2) != 0}};
        for (const auto& [key, down] : wanted) {
            if (result && key && down != held_.isHeld(*key)) {
                result = down ? held_.press(*key) : held_.release(*key);
            }
        }
        return result;
    }

    // Releases the key just pressed once the server has handled it, and so every key event before it: the
    // key shows down after the press and up after the release (seeing both rules out a press before a
    // freeze and a release held back by it). A ping answered meanwhile would prove nothing: it overtakes
    // key events that a grab holds back, which the target would later look up on another mapping.
    //
    // Under the server grab of another keyboard group the keys are handled at once, unless another
    // client's grab holds them back: that client can only let them go once the server lets it run, and
    // the keys must still find our group then.
    Status releaseHandled(KeyCode keycode) {
        bool heldUnderGrab = false;
        if (groupLock_.grabbing()) {
            Result<bool> atOnce = keyboard_.waitForKeyState(keycode, true, Clock::now());
            if (!atOnce) {
                return Status::failure(atOnce.error());
            }
            if (!atOnce.value()) {
                heldUnderGrab = true;
                if (Status let = groupLock_.letOthersRun(); !let) {
                    return let;
                }
            }
        }
        const auto deadline = Clock::now() + keyboard_.options.heldBackBound;
        Result<bool> handled = keyboard_.waitForKeyState(keycode, true, deadline);
        Status result = handled ? held_.release(keycode) : Status::failure(handled.error());
        if (result && handled.value()) {
            handled = keyboard_.waitForKeyState(keycode, false, deadline);
            result = handled ? Status::success() : Status::failure(handled.error());
        }
        if (result && !handled.value()) {
            result = Status::failure("typing: the X server did not handle the keys within " +
                                     std::to_string(keyboard_.options.heldBackBound.count()) +
                                     " ms (another program's grab holds the keyboard)");
        }
        if (result && heldUnderGrab && keyboard_.lockedGroup() != groupLock_.current()) {
            result = Status::failure(
                "typing: another program switched the keyboard group while another "
                "program's grab held the keys back (some may have typed other characters)");
        }
        return result;
    }

    Connection& keyboard_;
    const TypingPlan& plan_;
    Journal journal_;
    CapsLockOff lockOff_;
    SpareKeycodes spareKeys_;
    GroupLock groupLock_;
    HeldKeys held_;
    EscapeWatch escape_;
    std::unordered_map<KeySym, Stroke> remapped_;  // the stretch's keysyms on the spare keycodes
    Clock::time_point sliceStart_;
    bool stop_ = false;
};

Status typeText(Connection& keyboard, const std::u16string& text,
                const Keyboard::BetweenSlices& betweenSlices) {
    keyboard.stats = X11Keyboard::TypingStats{};
    if (text.empty()) {
        return Status::success();
    }
    Result<TypingPlan> planned = planTyping(keyboard, text);
    if (!planned) {
        return Status::failure(planned.error());
    }
    const TypingPlan& plan = planned.value();
    keyboard.stats.spareKeycodes = static_cast<int>(plan.spare.size());
    keyboard.stats.levelsPerKeycode = plan.levels;
    keyboard.stats.groupsPerKeycode = plan.groups;
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
    Result<bool> released = keyboard.waitForModifierRelease(plan.modifiers);
    if (!released) {
        return Status::failure(released.error());
    }
    keyboard.stats.modifiersStillHeld = !released.value();

    // The target paces the batches if it answers pings; the answers come to the root window.
    keyboard.findPingTarget();
    XSelectInput(keyboard.display, keyboard.root, X11PingAnswerMask);
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
    if (needsRemaps(plan)) {
        keyboard.probeTarget();
        keyboard.connectXim();
    }
    Typist typist(keyboard, plan);
    return typist.type();
}

}  // namespace

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
