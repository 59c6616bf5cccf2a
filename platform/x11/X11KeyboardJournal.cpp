#include "platform/x11/X11KeyboardJournal.h"

#include <algorithm>

#include "platform/x11/X11KeyboardSpareKeys.h"

namespace varnel::x11keyboard {

long KeymapRecord::checksum(const long* words, std::size_t count) {
    std::uint32_t hash = 2166136261u;  // FNV-1a over the words' bytes
    for (std::size_t i = 0; i < count; ++i) {
        for (int byte = 0; byte < 4; ++byte) {
            hash = (hash ^ ((static_cast<std::uint32_t>(words[i]) >> (8 * byte)) & 0xFF)) * 16777619u;
        }
    }
    return static_cast<long>(hash & 0x7FFFFFFF);
}

std::vector<long> KeymapRecord::encode() const {
    std::vector<long> words{Magic,
                            Version,
                            nonce,
                            minKeycode,
                            maxKeycode,
                            capsLockOff ? 1 : 0,
                            groupLocked ? 1 : 0,
                            lockedGroupBefore,
                            levels,
                            groups,
                            type,
                            shift,
                            levelThree,
                            static_cast<long>(keycodes.size())};
    const std::size_t per = perKeycode();
    for (std::size_t k = 0; k < keycodes.size(); ++k) {
        words.push_back(keycodes[k]);
        words.insert(words.end(), before.begin() + static_cast<std::ptrdiff_t>(k * per),
                     before.begin() + static_cast<std::ptrdiff_t>((k + 1) * per));
        words.insert(words.end(), after.begin() + static_cast<std::ptrdiff_t>(k * per),
                     after.begin() + static_cast<std::ptrdiff_t>((k + 1) * per));
    }
    words.push_back(checksum(words.data(), words.size()));
    return words;
}

std::optional<KeymapRecord> KeymapRecord::decode(const long* words, std::size_t count) {
    if (count < Header + 1 || words[0] != Magic || words[1] != Version ||
        words[count - 1] != checksum(words, count - 1)) {
        return std::nullopt;
    }
    if (std::any_of(words, words + count, [](long w) { return w < 0 || w > 0x7FFFFFFF; })) {
        return std::nullopt;
    }
    KeymapRecord record;
    record.nonce = words[2];
    record.minKeycode = static_cast<int>(std::min(words[3], 256L));
    record.maxKeycode = static_cast<int>(std::min(words[4], 256L));
    record.lockedGroupBefore = static_cast<int>(std::min(words[7], 256L));
    record.levels = static_cast<int>(std::min(words[8], 256L));
    record.groups = static_cast<int>(std::min(words[9], 256L));
    record.type = static_cast<int>(std::min(words[10], 256L));
    record.shift = static_cast<int>(std::min(words[11], 256L));
    record.levelThree = static_cast<int>(std::min(words[12], 256L));
    const std::size_t keycodes = static_cast<std::size_t>(std::min(words[13], 256L));
    auto isKeycode = [&record](long k) { return k >= record.minKeycode && k <= record.maxKeycode; };
    if (record.minKeycode < 8 || record.maxKeycode > 255 || record.minKeycode > record.maxKeycode ||
        words[5] > 1 || words[6] > 1 || record.lockedGroupBefore >= XkbNumKbdGroups ||
        (record.levels != 2 && record.levels != 4) || record.groups < 1 || record.groups > XkbNumKbdGroups ||
        record.type > 255 || (record.shift != 0 && !isKeycode(record.shift)) ||
        (record.levelThree != 0 && !isKeycode(record.levelThree)) ||
        count != Header + keycodes * (1 + 2 * static_cast<std::size_t>(record.groups * record.levels)) + 1) {
        return std::nullopt;
    }
    record.capsLockOff = words[5] == 1;
    record.groupLocked = words[6] == 1;
    const std::size_t per = record.perKeycode();
    std::vector<bool> seen(256, false);
    for (std::size_t k = 0, at = Header; k < keycodes; ++k, at += 1 + 2 * per) {
        const long keycode = words[at];
        if (!isKeycode(keycode) || seen[static_cast<std::size_t>(keycode)]) {
            return std::nullopt;
        }
        seen[static_cast<std::size_t>(keycode)] = true;
        record.keycodes.push_back(static_cast<KeyCode>(keycode));
        for (std::size_t l = 0; l < 2 * per; ++l) {
            const long sym = words[at + 1 + l];
            if (sym > 0x1FFFFFFF) {
                return std::nullopt;
            }
            (l < per ? record.before : record.after).push_back(static_cast<KeySym>(sym));
        }
    }
    return record;
}

Status Journal::capsLockOff() {
    record_.capsLockOff = true;
    return store();
}

Status Journal::capsLockBack() {
    record_.capsLockOff = false;
    return store();
}

Status Journal::groupLocked(int groupBefore) {
    record_.groupLocked = true;
    record_.lockedGroupBefore = groupBefore;
    return store();
}

Status Journal::groupBack() {
    record_.groupLocked = false;
    return store();
}

Status Journal::remap(const std::vector<KeyCode>& keycodes, int levels, int groups, int type,
                      const std::vector<KeySym>& before, const std::vector<KeySym>& after) {
    record_.keycodes = keycodes;
    record_.levels = levels;
    record_.groups = groups;
    record_.type = type;
    record_.before = before;
    record_.after = after;
    return store();
}

Status Journal::spareKeycodesBack() {
    record_.keycodes.clear();
    record_.before.clear();
    record_.after.clear();
    return store();
}

Status Journal::store() {
    if (disowned_) {
        return Status::success();
    }
    const bool empty = !record_.capsLockOff && !record_.groupLocked && record_.keycodes.empty();
    if (empty && !written_) {
        return Status::success();
    }
    Display* display = keyboard_.display;
    if (written_) {
        XGrabServer(display);
        disowned_ = !stillOurs();
    }
    if (!disowned_ && empty) {
        XDeleteProperty(display, keyboard_.root, keyboard_.journalAtom);
    } else if (!disowned_) {
        const std::vector<long> words = record_.encode();
        XChangeProperty(display, keyboard_.root, keyboard_.journalAtom, keyboard_.journalType, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(words.data()),
                        static_cast<int>(words.size()));
    }
    if (written_) {
        XUngrabServer(display);
    }
    written_ = !empty;
    return keyboard_.sync(empty ? "clearing the keymap record" : "recording the keymap change");
}

bool Journal::stillOurs() {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    XGetWindowProperty(keyboard_.display, keyboard_.root, keyboard_.journalAtom, 0, 3, False, AnyPropertyType,
                       &type, &format, &count, &after, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> owned(raw);
    return type == 0 || (type == keyboard_.journalType && format == 32 && count == 3 &&
                         reinterpret_cast<const long*>(raw)[2] == record_.nonce);
}

// Whether keycode holds exactly row (groups * levels keysyms) as typing gives it to a spare keycode:
// groups groups of the key type type, levels wide. An empty row: the keycode holds no keysym at all.
bool holdsExactly(XkbDescPtr xkb, int keycode, int type, int levels, int groups, const KeySym* row) {
    const int width = groups * levels;
    if (std::all_of(row, row + width, [](KeySym sym) { return sym == NoSymbol; })) {
        const KeySym* syms = XkbKeySymsPtr(xkb, keycode);
        return std::all_of(syms, syms + XkbKeyNumSyms(xkb, keycode),
                           [](KeySym sym) { return sym == NoSymbol; });
    }
    if (XkbKeyNumGroups(xkb, keycode) != groups || XkbKeyGroupsWidth(xkb, keycode) != levels) {
        return false;
    }
    for (int g = 0; g < groups; ++g) {
        if (XkbKeyKeyTypeIndex(xkb, keycode, g) != type) {
            return false;
        }
    }
    return std::equal(row, row + width, XkbKeySymsPtr(xkb, keycode));
}

Status TypingLock::take() {
    Result<Time> now = keyboard_.serverTime();
    if (!now) {
        return Status::failure(now.error());
    }
    Display* display = keyboard_.display;
    XGrabServer(display);
    const Window owner = XGetSelectionOwner(display, keyboard_.lockAtom);
    const bool free = owner == 0 || owner == keyboard_.lockWindow;
    if (free) {
        keyboard_.lockLost = false;
        XSetSelectionOwner(display, keyboard_.lockAtom, keyboard_.lockWindow, now.value());
    }
    XUngrabServer(display);
    owned_ = free && XGetSelectionOwner(display, keyboard_.lockAtom) == keyboard_.lockWindow;
    keyboard_.lockTime = now.value();
    Status status = keyboard_.sync("starting the typing");
    if (status && !free) {
        return Status::failure(
            "typing: another program is typing through Varnel's spare keys on this display");
    }
    if (status && !owned_) {
        return Status::failure("typing: the typing selection could not be taken");
    }
    return status;
}

namespace {

void clearRecord(Connection& keyboard) {
    XDeleteProperty(keyboard.display, keyboard.root, keyboard.journalAtom);
    IgnoreFailure(keyboard.sync("clearing the keymap record"), "a record left is read again next time");
}

// The record on the root window: empty when there is none, when the property is another client's (another
// type) and when it is malformed (then it is deleted).
std::optional<KeymapRecord> readRecord(Connection& keyboard) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(keyboard.display, keyboard.root, keyboard.journalAtom, 0, 1 << 16, False,
                           AnyPropertyType, &type, &format, &count, &after, &raw) != Success) {
        IgnoreFailure(keyboard.sync("reading the keymap record"), "no record is read either way");
        return std::nullopt;
    }
    std::unique_ptr<unsigned char, XFreeDeleter> owned(raw);
    if (type == 0 || type != keyboard.journalType) {
        return std::nullopt;
    }
    const std::optional<KeymapRecord> record =
        raw != nullptr && format == 32 && after == 0
            ? KeymapRecord::decode(reinterpret_cast<const long*>(raw), count)
            : std::nullopt;
    if (!record) {
        clearRecord(keyboard);
    }
    return record;
}

// Of the keycodes the record names, those still spare (bound to no modifier) that hold exactly what typing
// gave them or held before the change under way.
std::vector<KeyCode> keycodesStillOurs(const KeymapRecord& record, XkbDescPtr xkb,
                                       const std::vector<bool>& modifiers, int typingType) {
    const std::size_t per = record.perKeycode();
    std::vector<KeyCode> ours;
    for (std::size_t k = 0; k < record.keycodes.size() && record.type == typingType; ++k) {
        const KeyCode keycode = record.keycodes[k];
        const KeySym* before = record.before.data() + k * per;
        const KeySym* given = record.after.data() + k * per;
        auto holds = [&](const KeySym* row) {
            return std::any_of(row, row + per, [](KeySym sym) { return sym != NoSymbol; }) &&
                   holdsExactly(xkb, keycode, typingType, record.levels, record.groups, row);
        };
        if (!modifiers[keycode] && (holds(given) || holds(before))) {
            ours.push_back(keycode);
        }
    }
    return ours;
}

// Releases those keycodes and the keymap's own Shift and Level3 keys the record names, where down.
void releaseKeys(Connection& keyboard, const KeymapRecord& record, const Keymap& map,
                 const std::optional<LevelThree>& levelThree, const std::vector<KeyCode>& ours) {
    std::vector<KeyCode> pressable = ours;
    if (record.shift != 0 && map.at(record.shift, 0) == XK_Shift_L) {
        pressable.push_back(static_cast<KeyCode>(record.shift));
    }
    if (record.levelThree != 0 && levelThree && levelThree->key == record.levelThree) {
        pressable.push_back(static_cast<KeyCode>(record.levelThree));
    }
    char down[32] = {};
    XQueryKeymap(keyboard.display, down);
    for (KeyCode keycode : pressable) {
        if (Connection::isDown(down, keycode)) {
            XTestFakeKeyEvent(keyboard.display, keycode, False, CurrentTime);
        }
    }
}

// Empties the keycodes in one map change; returns how many.
void emptyKeycodes(Connection& keyboard, XkbDescPtr xkb, const std::vector<KeyCode>& ours) {
    XkbMapChangesRec changes{};
    int first = 256, last = -1, repaired = 0;
    for (KeyCode keycode : ours) {
        if (XkbChangeTypesOfKey(xkb, keycode, 0, XkbGroup1Mask, nullptr, &changes) == Success) {
            first = std::min(first, static_cast<int>(keycode));
            last = std::max(last, static_cast<int>(keycode));
            ++repaired;
        }
    }
    if (repaired > 0) {
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = static_cast<KeyCode>(first);
        changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
        XkbChangeMap(keyboard.display, xkb, &changes);
    }
}

}  // namespace

// Undoes what a killed typing of ours left behind, as its record says: the modifier keys and spare
// keycodes it may have left pressed are released, the spare keycodes it changed are emptied, Caps Lock
// goes back on and the keyboard group it locked goes back to the one before. Only a record that is wholly
// well-formed and was written for this keymap (its keycode range) is acted on, and of the keycodes it names
// only those that are spare by the rule typing picks them with (bound to no modifier) and still hold exactly
// what the record says typing gave them (or held before the change under way): the recorded groups of the key
// type typing uses, with those keysyms. A keycode someone else has changed since is not ours to touch. A
// property of another type is another client's and left alone; a malformed record of ours is deleted. Nothing
// is done while another client types (the typing lock is held for the repair).
void repairLeftovers(Connection& keyboard) {
    TypingLock lock(keyboard);
    if (!keyboard.xkb || !lock.take()) {
        return;
    }
    const std::optional<KeymapRecord> record = readRecord(keyboard);
    if (!record) {
        return;
    }
    Result<Keymap> map = keyboard.readKeymap();
    Result<std::vector<bool>> modifiers = keyboard.modifierKeycodes();
    std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
        XkbGetMap(keyboard.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
    if (!map || !modifiers || !xkb) {
        IgnoreFailure(keyboard.sync("reading the keyboard map"), "the map is missing either way");
        return;
    }
    const X11Keyboard::KeycodeRange xkbRange =
        X11Keyboard::coreKeycodeRange(xkb->min_key_code, xkb->max_key_code);
    if (record->minKeycode != map.value().minKeycode || record->maxKeycode != map.value().maxKeycode ||
        xkbRange.first != map.value().minKeycode || xkbRange.last != map.value().maxKeycode) {
        return;  // written for another keymap
    }
    const std::optional<LevelThree> levelThree = findLevelThree(keyboard, map.value());
    const int typingType = record->levels == 4 ? (levelThree ? levelThree->type : -1) : XkbTwoLevelIndex;
    const std::vector<KeyCode> ours = keycodesStillOurs(*record, xkb.get(), modifiers.value(), typingType);
    releaseKeys(keyboard, *record, map.value(), levelThree, ours);
    emptyKeycodes(keyboard, xkb.get(), ours);
    if (record->capsLockOff) {
        XkbLockModifiers(keyboard.display, XkbUseCoreKbd, LockMask, LockMask);
    }
    if (record->groupLocked) {
        XkbLockGroup(keyboard.display, XkbUseCoreKbd, static_cast<unsigned>(record->lockedGroupBefore));
    }
    if (keyboard.sync("repairing the keymap")) {
        clearRecord(keyboard);
    }
}

}  // namespace varnel::x11keyboard
