#include "platform/x11/X11Keyboard.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

// Xlibint.h declares the per-display error hooks (and defines min and max as macros); Xlib.h defines
// Status as a macro.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef min
#undef max
#undef Status

#include "platform/x11/X11Connection.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t UnicodeKeysymBase = 0x1000000;
constexpr std::uint32_t ReplacementCharacter = 0xFFFD;

// Protocol errors on our connection. Xlib hands every error met while it waits for a reply (XSync
// included) to the error hooks of the display's extensions before the process-wide handler; a hook of our
// own records the error and marks it handled, so nothing here depends on the process-wide handler, which
// belongs to the toolkit. Errors are only ever collected by XSync or a reply: queued events are read only
// after an XSync, when no error can be outstanding.
struct ErrorRecord {
    int code = 0;
    int request = 0;
    int minor = 0;
    bool connectionLost = false;
};

std::mutex registryMutex;
std::vector<std::pair<Display*, ErrorRecord*>>& registry() {
    static std::vector<std::pair<Display*, ErrorRecord*>> displays;
    return displays;
}

ErrorRecord* recordFor(Display* display) {
    for (auto& [d, record] : registry()) {
        if (d == display) {
            return record;
        }
    }
    return nullptr;
}

int onProtocolError(Display* display, xError* error, XExtCodes*, int* returnCode) {
    std::lock_guard lock(registryMutex);
    ErrorRecord* record = recordFor(display);
    if (record == nullptr) {
        return False;
    }
    if (record->code == 0) {
        record->code = error->errorCode;
        record->request = error->majorCode;
        record->minor = error->minorCode;
    }
    *returnCode = 0;  // a request that wanted a reply reports failure
    return True;
}

// A lost connection ends the process in Xlib's default handlers. For our display the process-wide handler
// returns (to whatever the toolkit installed for other displays otherwise) and the per-display exit handler
// only marks the connection dead; every later call then fails.
XIOErrorHandler previousIoHandler = nullptr;

int onIoError(Display* display) {
    {
        std::lock_guard lock(registryMutex);
        if (recordFor(display) != nullptr) {
            return 0;
        }
    }
    return previousIoHandler != nullptr ? previousIoHandler(display) : 0;
}

void onIoExit(Display* display, void*) {
    std::lock_guard lock(registryMutex);
    if (ErrorRecord* record = recordFor(display)) {
        record->connectionLost = true;
    }
}

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p != nullptr) {
            XFree(p);
        }
    }
};

struct XkbDeleter {
    void operator()(XkbDescPtr xkb) const {
        if (xkb != nullptr) {
            XkbFreeKeyboard(xkb, 0, True);
        }
    }
};

Status firstFailure(Status a, Status b) {
    return a ? b : a;
}

struct ModifierMapDeleter {
    void operator()(XModifierKeymap* map) const {
        if (map != nullptr) {
            XFreeModifiermap(map);
        }
    }
};

std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", value);
    return buffer;
}

// The core keyboard mapping of the whole keycode range.
struct Keymap {
    int minKeycode = 0;
    int maxKeycode = 0;
    int perKeycode = 0;
    std::vector<KeySym> syms;

    KeySym at(int keycode, int column) const {
        if (keycode < minKeycode || keycode > maxKeycode || column >= perKeycode) {
            return NoSymbol;
        }
        return syms[static_cast<std::size_t>((keycode - minKeycode) * perKeycode + column)];
    }
    bool isEmpty(int keycode) const {
        for (int c = 0; c < perKeycode; ++c) {
            if (at(keycode, c) != NoSymbol) {
                return false;
            }
        }
        return true;
    }
    // The first keycode carrying sym in column 0 and not in excluded.
    std::optional<KeyCode> find(KeySym sym, const std::vector<bool>& excluded) const {
        for (int k = minKeycode; k <= maxKeycode; ++k) {
            if (at(k, 0) == sym && !excluded[static_cast<std::size_t>(k)]) {
                return static_cast<KeyCode>(k);
            }
        }
        return std::nullopt;
    }
};

struct Stroke {
    KeyCode keycode = 0;
    bool shift = false;
};

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

// The connection and everything typing keeps between calls.
struct Connection {
    Display* display = nullptr;
    X11Keyboard::Options options;
    ErrorRecord errors;
    bool xkb = false;
    X11Keyboard::TypingStats stats;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (display == nullptr) {
            return;
        }
        if (!errors.connectionLost) {
            XSync(display, False);
        }
        {
            std::lock_guard lock(registryMutex);
            auto& displays = registry();
            displays.erase(std::remove_if(displays.begin(), displays.end(),
                                          [this](const auto& entry) { return entry.first == display; }),
                           displays.end());
        }
        XCloseDisplay(display);
    }

    // Waits until the server has handled every request so far and reports the first error among them.
    Status sync(const std::string& what) {
        if (!errors.connectionLost) {
            XSync(display, False);
        }
        if (errors.connectionLost) {
            return Status::failure(what + ": the connection to the X server is lost");
        }
        while (XEventsQueued(display, QueuedAlready) > 0) {
            XEvent event;
            XNextEvent(display, &event);  // mapping notifications; nothing here listens to events
        }
        if (errors.code != 0) {
            char text[128] = {};
            XGetErrorText(display, errors.code, text, sizeof text);
            const std::string why = what + ": X error " + text + " (request " +
                                    std::to_string(errors.request) + "." + std::to_string(errors.minor) + ")";
            errors.code = 0;
            return Status::failure(why);
        }
        return Status::success();
    }

    Status key(KeyCode keycode, bool press) {
        if (errors.connectionLost) {
            return Status::failure("the connection to the X server is lost");
        }
        if (XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime) == 0) {
            return Status::failure("XTest refused a key event");
        }
        return Status::success();
    }

    Result<Keymap> readKeymap() {
        Keymap map;
        XDisplayKeycodes(display, &map.minKeycode, &map.maxKeycode);
        const int count = map.maxKeycode - map.minKeycode + 1;
        std::unique_ptr<KeySym, XFreeDeleter> syms(
            XGetKeyboardMapping(display, static_cast<KeyCode>(map.minKeycode), count, &map.perKeycode));
        if (!syms || map.perKeycode <= 0 || count <= 0) {
            Status status = sync("reading the keyboard mapping");
            return Result<Keymap>::failure(status ? "the keyboard mapping could not be read"
                                                  : status.error());
        }
        map.syms.assign(syms.get(), syms.get() + static_cast<std::size_t>(count * map.perKeycode));
        return Result<Keymap>::success(std::move(map));
    }

    // Keycodes bound to a modifier, indexed by keycode.
    Result<std::vector<bool>> modifierKeycodes() {
        std::unique_ptr<XModifierKeymap, ModifierMapDeleter> map(XGetModifierMapping(display));
        if (!map) {
            Status status = sync("reading the modifier mapping");
            return Result<std::vector<bool>>::failure(status ? "the modifier mapping could not be read"
                                                             : status.error());
        }
        std::vector<bool> keycodes(256, false);
        for (int i = 0; i < 8 * map->max_keypermod; ++i) {
            if (map->modifiermap[i] != 0) {
                keycodes[map->modifiermap[i]] = true;
            }
        }
        return Result<std::vector<bool>>::success(std::move(keycodes));
    }

    // Waits (bounded) until no modifier key is down. False when some stayed down.
    Result<bool> waitForModifierRelease(const std::vector<bool>& modifiers) {
        const auto deadline = Clock::now() + options.modifierReleaseBound;
        for (;;) {
            char keys[32] = {};
            XQueryKeymap(display, keys);
            if (Status status = sync("reading the key states"); !status) {
                return Result<bool>::failure(status.error());
            }
            bool held = false;
            for (int k = 0; k < 256 && !held; ++k) {
                held = modifiers[static_cast<std::size_t>(k)] && (keys[k / 8] & (1 << (k % 8))) != 0;
            }
            if (!held) {
                return Result<bool>::success(true);
            }
            if (Clock::now() >= deadline) {
                return Result<bool>::success(false);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void settle() { std::this_thread::sleep_for(options.remapSettle); }
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
    explicit CapsLockOff(Connection& keyboard) : keyboard_(keyboard) {}
    ~CapsLockOff() { restore(); }
    CapsLockOff(const CapsLockOff&) = delete;
    CapsLockOff& operator=(const CapsLockOff&) = delete;

    Status apply(bool lockOn) {
        if (!lockOn) {
            return Status::success();
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
        return keyboard_.sync("restoring Caps Lock");
    }

  private:
    Connection& keyboard_;
    bool changed_ = false;
};

// The spare keycodes and their mapping while the text is typed. One keymap change covers all of them, and
// the spare keycodes are emptied again when this goes.
class SpareKeycodes {
  public:
    SpareKeycodes(Connection& keyboard, std::vector<KeyCode> keycodes)
        : keyboard_(keyboard), keycodes_(std::move(keycodes)) {}
    ~SpareKeycodes() { restore(); }
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    std::size_t capacity() const { return 2 * keycodes_.size(); }
    // Where symbols[i] lands: keycode i / 2, shift level i % 2.
    Stroke strokeFor(std::size_t i) const { return Stroke{keycodes_[i / 2], i % 2 == 1}; }

    Status map(const std::vector<KeySym>& symbols) {
        std::vector<KeySym> levels(capacity(), NoSymbol);
        std::copy(symbols.begin(), symbols.end(), levels.begin());
        waitForTypedKeys();
        Status status = write(levels);
        if (status) {
            keyboard_.settle();
        }
        return status;
    }
    // Records that keys were typed on the current mapping: it must not change before they are read.
    void typed() { typed_ = true; }
    Status restore() {
        if (!mapped_) {
            return Status::success();
        }
        waitForTypedKeys();
        Status status = write(std::vector<KeySym>(capacity(), NoSymbol));
        mapped_ = false;  // one attempt; a failed restore is reported, not retried forever
        return status;
    }

  private:
    void waitForTypedKeys() {
        if (typed_) {
            keyboard_.sync("typing");
            keyboard_.settle();
            typed_ = false;
        }
    }

    Status write(const std::vector<KeySym>& levels) {
        mapped_ = true;
        Status status = keyboard_.xkb ? writeXkb(levels) : writeCore(levels);
        return firstFailure(status, keyboard_.sync("changing the keyboard mapping"));
    }

    // One XKB map change for the range from the lowest to the highest spare keycode. The keys in between
    // go back exactly as the server holds them at this moment; a core mapping change would make the server
    // re-derive their XKB types and groups from the core symbols, which does not give back what was there
    // (keys with five levels gain a second group, for one).
    Status writeXkb(const std::vector<KeySym>& levels) {
        std::unique_ptr<XkbDescRec, XkbDeleter> xkb(
            XkbGetMap(keyboard_.display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
        if (!xkb) {
            return firstFailure(keyboard_.sync("reading the keyboard map"),
                                Status::failure("the keyboard map could not be read"));
        }
        XkbMapChangesRec changes{};
        for (std::size_t i = 0; i < keycodes_.size(); ++i) {
            const KeySym low = levels[2 * i];
            const KeySym high = levels[2 * i + 1];
            if (low == NoSymbol && high == NoSymbol) {
                if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], 0, XkbGroup1Mask, nullptr, &changes) !=
                    Success) {
                    return Status::failure("a spare keycode could not be emptied");
                }
                continue;
            }
            int types[XkbNumKbdGroups] = {XkbTwoLevelIndex};
            KeySym* syms = nullptr;
            if (XkbChangeTypesOfKey(xkb.get(), keycodes_[i], 1, XkbGroup1Mask, types, &changes) == Success) {
                syms = XkbResizeKeySyms(xkb.get(), keycodes_[i], 2);
            }
            if (syms == nullptr) {
                return Status::failure("a spare keycode could not be given keysyms");
            }
            syms[0] = low;
            syms[1] = high;
        }
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = *std::min_element(keycodes_.begin(), keycodes_.end());
        changes.num_key_syms = static_cast<unsigned char>(
            *std::max_element(keycodes_.begin(), keycodes_.end()) - changes.first_key_sym + 1);
        ++keyboard_.stats.keymapChanges;
        if (!XkbChangeMap(keyboard_.display, xkb.get(), &changes)) {
            return Status::failure("the keyboard map could not be changed");
        }
        return Status::success();
    }

    // Without XKB: one core change per spare keycode.
    Status writeCore(const std::vector<KeySym>& levels) {
        for (std::size_t i = 0; i < keycodes_.size(); ++i) {
            KeySym syms[2] = {levels[2 * i], levels[2 * i + 1]};
            XChangeKeyboardMapping(keyboard_.display, keycodes_[i], 2, syms, 1);
            ++keyboard_.stats.keymapChanges;
        }
        return Status::success();
    }

    Connection& keyboard_;
    std::vector<KeyCode> keycodes_;
    bool mapped_ = false;
    bool typed_ = false;
};

}  // namespace

struct X11Keyboard::Impl : Connection {};

X11Keyboard::X11Keyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11Keyboard::~X11Keyboard() = default;

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why) {
    return open(why, Options{});
}

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why, Options options) {
    auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    static std::once_flag ioHandlerInstalled;
    std::call_once(ioHandlerInstalled, [] { previousIoHandler = XSetIOErrorHandler(onIoError); });

    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->display = OpenX11Connection([display = &impl->display] { onIoExit(*display, nullptr); });
    if (impl->display == nullptr) {
        return fail("the X display cannot be opened");
    }
    {
        std::lock_guard lock(registryMutex);
        registry().emplace_back(impl->display, &impl->errors);
    }
    XExtCodes* codes = XAddExtension(impl->display);
    if (codes == nullptr) {
        return fail("no error hook could be installed on the X connection");
    }
    XESetError(impl->display, codes->extension, onProtocolError);

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(impl->display, &eventBase, &errorBase, &major, &minor)) {
        return fail("the X server has no XTest extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    impl->xkb = XkbQueryExtension(impl->display, &opcode, &eventBase, &errorBase, &major, &minor) == True;
    if (Status status = impl->sync("opening the keyboard"); !status) {
        return fail(status.error());
    }
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(std::move(impl)));
}

std::vector<std::uint32_t> X11Keyboard::keysymsFor(const std::u16string& text) {
    std::vector<std::uint32_t> keysyms;
    keysyms.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = ReplacementCharacter;
        }
        if (c == u'\t') {
            keysyms.push_back(XK_Tab);
        } else if (c == u'\r') {
            keysyms.push_back(XK_Return);
        } else if (c == u'\n') {
            keysyms.push_back(XK_Linefeed);
        } else if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
            keysyms.push_back(c);
        } else {
            keysyms.push_back(UnicodeKeysymBase + c);
        }
    }
    return keysyms;
}

X11Keyboard::TypingStats X11Keyboard::lastTypingStats() const {
    return impl_->stats;
}

namespace {

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

}  // namespace

Status X11Keyboard::pressShiftInsert() {
    return pressChord(*impl_, XK_Shift_L, XK_Insert, "Shift+Insert");
}

Status X11Keyboard::pressCtrlInsert() {
    return pressChord(*impl_, XK_Control_L, XK_Insert, "Ctrl+Insert");
}

Status X11Keyboard::waitUntilSent() {
    Status status = impl_->sync("sending keys");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return status;
}

Status X11Keyboard::typeText(const std::u16string& text) {
    Connection& keyboard = *impl_;
    keyboard.stats = TypingStats{};
    if (text.empty()) {
        return Status::success();
    }
    const std::vector<std::uint32_t> keysyms = keysymsFor(text);

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
    int group = 0;
    bool capsLock = false;
    if (keyboard.xkb) {
        XkbStateRec state{};
        if (XkbGetState(keyboard.display, XkbUseCoreKbd, &state) == Success) {
            group = state.group;
            capsLock = (state.locked_mods & LockMask) != 0;
        }
        if (Status status = keyboard.sync("reading the keyboard state"); !status) {
            return status;
        }
    }

    std::unordered_map<KeySym, Stroke> direct;
    if (group < 2) {
        for (int level = 0; level < 2; ++level) {
            for (int k = map.minKeycode; k <= map.maxKeycode; ++k) {
                const KeySym sym = map.at(k, 2 * group + level);
                if (sym != NoSymbol && !modifiers[static_cast<std::size_t>(k)] && direct.count(sym) == 0) {
                    direct.emplace(sym, Stroke{static_cast<KeyCode>(k), level == 1});
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
    const std::vector<Stretch> stretches = planStretches(keysyms, direct, 2 * spare.size());
    if (spare.empty()) {
        for (const Stretch& stretch : stretches) {
            if (!stretch.symbols.empty()) {
                return Status::failure("typing: the keymap has no spare keycode for keysym 0x" +
                                       hex(static_cast<std::uint32_t>(stretch.symbols.front())));
            }
        }
    }
    keyboard.stats.spareKeycodes = static_cast<int>(spare.size());

    Result<bool> released = keyboard.waitForModifierRelease(modifiers);
    if (!released) {
        return Status::failure(released.error());
    }
    keyboard.stats.modifiersStillHeld = !released.value();

    // Destroyed in reverse: keys released first, then the spare keycodes emptied, then Caps Lock back.
    CapsLockOff lockOff(keyboard);
    SpareKeycodes spareKeys(keyboard, spare);
    HeldKeys held(keyboard);
    Status status = lockOff.apply(capsLock);

    for (const Stretch& stretch : stretches) {
        if (!status) {
            break;
        }
        std::unordered_map<KeySym, Stroke> remapped;
        if (!stretch.symbols.empty()) {
            if (held.isHeld(*shiftKey)) {
                status = held.release(*shiftKey);
            }
            if (status) {
                status = spareKeys.map(stretch.symbols);
            }
            for (std::size_t i = 0; i < stretch.symbols.size(); ++i) {
                remapped.emplace(stretch.symbols[i], spareKeys.strokeFor(i));
            }
        }
        for (std::size_t i = stretch.begin; i < stretch.end && status; ++i) {
            const KeySym sym = keysyms[i];
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
            }
            const Stroke stroke = it->second;
            if (stroke.shift != held.isHeld(*shiftKey)) {
                status = stroke.shift ? held.press(*shiftKey) : held.release(*shiftKey);
            }
            if (status) {
                status = held.press(stroke.keycode);
            }
            if (status) {
                status = held.release(stroke.keycode);
            }
            if (status) {
                status = keyboard.sync("typing");
            }
        }
    }
    status = firstFailure(status, held.releaseAll());
    status = firstFailure(status, spareKeys.restore());
    status = firstFailure(status, lockOff.restore());
    return status;
}

}  // namespace varnel
