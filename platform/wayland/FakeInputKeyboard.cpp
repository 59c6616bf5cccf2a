#include "platform/wayland/FakeInputKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "fake-input-client.h"
#include "keystate-client.h"
#include "platform/wayland/LayoutKeys.h"
#include "platform/wayland/WaylandConnection.h"

namespace varnel {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds SentBound{2000};
// How long a pasted run may take to be fetched by the target.
constexpr milliseconds PastedBound{1000};
// Keys per slice; each slice ends with a round trip and the caller's betweenSlices.
constexpr std::size_t SliceKeys = 48;
constexpr std::uint32_t FakeInputVersion = 4;        // keyboard_key
constexpr std::uint32_t KeyStateDestroyVersion = 4;  // KWin 5.27 offers version 1, without destroy
constexpr std::uint32_t Pressed = 1;
constexpr std::uint32_t Released = 0;
// Standard evdev codes, used where the layout does not name these keys.
constexpr std::uint32_t EvdevLeftShift = 42;
constexpr std::uint32_t EvdevLeftControl = 29;
constexpr std::uint32_t EvdevInsert = 110;
constexpr std::uint32_t KeysymInsert = 0xff63;

}  // namespace

struct FakeInputKeyboard::Impl : wayland::SeatConnection {
    Clipboard* clipboard = nullptr;
    ActiveLayout activeLayout;
    wl_keyboard* keyboard = nullptr;
    org_kde_kwin_fake_input* fakeInput = nullptr;
    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr;  // the user's, as our seat's keyboard last reported it
    std::uint32_t keymapSerial = 0;
    // The layout keys, made again when the keymap or the layout in use changes.
    wayland::LayoutKeys layout;
    std::uint32_t layoutSerial = 0, layoutIndex = 0;
    bool layoutCapsLock = false;
    org_kde_kwin_keystate* keyState = nullptr;  // Caps Lock's state, where KWin grants it
    bool capsLock = false;
    bool layoutValid = false;
    TypingStats stats;

    ~Impl() {
        if (keyState != nullptr && org_kde_kwin_keystate_get_version(keyState) >= KeyStateDestroyVersion) {
            org_kde_kwin_keystate_destroy(keyState);
        } else if (keyState != nullptr) {
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyState));
        }
        if (fakeInput != nullptr) {
            org_kde_kwin_fake_input_destroy(fakeInput);
        }
        if (keyboard != nullptr) {
            wl_keyboard_destroy(keyboard);
        }
        xkb_keymap_unref(keymap);
        if (xkb != nullptr) {
            xkb_context_unref(xkb);
        }
    }

    static Impl* of(void* data) { return static_cast<Impl*>(data); }

    static void onKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                         std::uint32_t size) {
        Impl* self = of(data);
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                // The text ends with a NUL within `size`; a keymap without one is not taken.
                const char* text = static_cast<const char*>(mapped);
                if (std::memchr(text, '\0', size) != nullptr) {
                    if (xkb_keymap* compiled = xkb_keymap_new_from_string(
                            self->xkb, text, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
                        xkb_keymap_unref(self->keymap);
                        self->keymap = compiled;
                        ++self->keymapSerial;
                    }
                }
                munmap(mapped, size);
            }
        }
        close(fd);
    }
    static void onEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void onLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void onKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
    static void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t) {}
    static void onRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
    static constexpr wl_keyboard_listener KeyboardListener{onKeymap, onEnter,     onLeave,
                                                           onKey,    onModifiers, onRepeat};

    static void onCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
        Impl* self = of(data);
        if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && self->keyboard == nullptr) {
            self->keyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(self->keyboard, &KeyboardListener, self);
        }
    }
    static void onSeatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener SeatListener{onCapabilities, onSeatName};

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        Impl* self = of(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat == nullptr) {
            self->seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min<std::uint32_t>(version, 4)));
            wl_seat_add_listener(self->seat, &SeatListener, self);
        } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
                   self->fakeInput == nullptr && version >= FakeInputVersion) {
            self->fakeInput = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, FakeInputVersion));
        } else if (std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0 &&
                   self->keyState == nullptr) {
            self->keyState = static_cast<org_kde_kwin_keystate*>(wl_registry_bind(
                registry, name, &org_kde_kwin_keystate_interface, std::min(version, KeyStateDestroyVersion)));
            org_kde_kwin_keystate_add_listener(self->keyState, &KeyStateListener, self);
            org_kde_kwin_keystate_fetchStates(self->keyState);
        }
    }
    static void onKeyState(void* data, org_kde_kwin_keystate*, std::uint32_t key, std::uint32_t state) {
        if (key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK) {
            of(data)->capsLock = state == ORG_KDE_KWIN_KEYSTATE_STATE_LOCKED;
        }
    }
    static constexpr org_kde_kwin_keystate_listener KeyStateListener{onKeyState};
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener RegistryListener{onGlobal, onGlobalRemove};

    Status broken() const {
        if (wl_display_get_error(display) != 0) {
            return Status::failure(wayland::ConnectionError(display));
        }
        return Status::success();
    }

    // The keys of the layout in use, after reading what the compositor has sent meanwhile.
    const wayland::LayoutKeys& currentLayout() {
        wayland::DispatchPending(display);
        const std::uint32_t index = activeLayout ? activeLayout().value_or(0) : 0;
        if (!layoutValid || layoutSerial != keymapSerial || layoutIndex != index ||
            layoutCapsLock != capsLock) {
            const xkb_mod_index_t caps = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
            const std::uint32_t locked = capsLock && caps != XKB_MOD_INVALID ? 1u << caps : 0;
            layout = wayland::LayoutKeys::fromKeymap(keymap, index, locked);
            layoutSerial = keymapSerial;
            layoutIndex = index;
            layoutCapsLock = capsLock;
            layoutValid = true;
        }
        return layout;
    }

    void key(std::uint32_t code, std::uint32_t state) {
        org_kde_kwin_fake_input_keyboard_key(fakeInput, code, state);
    }

    // Shift+Insert or Ctrl+Insert with the layout's own keys (the usual ones where it names none).
    Status chord(bool paste) {
        if (Status status = broken(); !status) {
            return status;
        }
        const wayland::LayoutKeys& keys = currentLayout();
        const std::uint32_t modifier =
            paste ? (keys.shiftCode() != 0 ? keys.shiftCode() : EvdevLeftShift)
                  : (keys.controlCode() != 0 ? keys.controlCode() : EvdevLeftControl);
        const wayland::KeyStroke* insert = keys.strokeFor(KeysymInsert);
        const std::uint32_t insertCode =
            insert != nullptr && !insert->shift && !insert->levelThree ? insert->code : EvdevInsert;
        key(modifier, Pressed);
        key(insertCode, Pressed);
        key(insertCode, Released);
        key(modifier, Released);
        return roundtrip();
    }

    Status roundtrip() {
        if (!wayland::Roundtrip(display, SentBound)) {
            return Status::failure("KWin did not confirm the keys in time");
        }
        return Status::success();
    }

    // Types a run's keys in slices; false in *stopped when betweenSlices asked to stop.
    Status typeKeys(const std::vector<wayland::KeyStroke>& keys, const BetweenSlices& betweenSlices,
                    bool* stopped) {
        bool shiftHeld = false, levelThreeHeld = false;
        auto hold = [this](bool want, bool* held, std::uint32_t code) {
            if (want != *held) {
                key(code, want ? Pressed : Released);
                *held = want;
            }
        };
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const wayland::KeyStroke& stroke = keys[i];
            hold(stroke.shift, &shiftHeld, layout.shiftCode());
            hold(stroke.levelThree, &levelThreeHeld, layout.levelThreeCode());
            key(stroke.code, Pressed);
            key(stroke.code, Released);
            ++stats.typedCharacters;
            const bool sliceEnds = (i + 1) % SliceKeys == 0 || i + 1 == keys.size();
            if (sliceEnds) {
                hold(false, &shiftHeld, layout.shiftCode());
                hold(false, &levelThreeHeld, layout.levelThreeCode());
                if (Status sent = roundtrip(); !sent) {
                    return sent;
                }
                if (i + 1 < keys.size() && betweenSlices && !betweenSlices()) {
                    *stopped = true;
                    return Status::success();
                }
            }
        }
        return Status::success();
    }

    Status pasteRun(const std::u16string& text) {
        if (Status offered = clipboard->offerForPaste(text, 0, PasteKind::SlotText); !offered) {
            return Status::failure(
                "characters the keyboard layout cannot type could not be put on the clipboard: " +
                offered.error());
        }
        Status pasted = chord(true);
        if (pasted) {
            pasted = clipboard->waitUntilPasted(PastedBound);
            if (!pasted) {
                pasted = Status::failure(
                    "the target did not take the characters the keyboard layout cannot type "
                    "(they were to be pasted): " +
                    pasted.error());
            }
        }
        clipboard->endPaste();
        ++stats.pastedRuns;
        return pasted;
    }
};

std::unique_ptr<FakeInputKeyboard> FakeInputKeyboard::open(Clipboard& clipboard, ActiveLayout activeLayout,
                                                           std::string* why) {
    auto impl = std::make_unique<Impl>();
    impl->clipboard = &clipboard;
    impl->activeLayout = std::move(activeLayout);
    impl->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (impl->xkb == nullptr) {
        return wayland::Failed(why, "xkbcommon could not be set up");
    }
    if (const char* reason = impl->connect(&Impl::RegistryListener, impl.get())) {
        return wayland::Failed(why, reason);
    }
    if (impl->fakeInput == nullptr) {
        return wayland::Failed(
            why, "KWin does not grant this program fake input (org_kde_kwin_fake_input, version 4)");
    }
    // The seat's capabilities, then the keyboard's keymap.
    if (!wayland::Roundtrip(impl->display, wayland::ConnectBound) ||
        !wayland::Roundtrip(impl->display, wayland::ConnectBound) || impl->keymap == nullptr) {
        return wayland::Failed(why, "the seat's keyboard reported no keymap");
    }
    org_kde_kwin_fake_input_authenticate(impl->fakeInput, "Varnel",
                                         "sends clipboard slots into the window you work in");
    if (!wayland::Roundtrip(impl->display, wayland::ConnectBound)) {
        return wayland::Failed(why, "KWin did not answer");
    }
    return std::unique_ptr<FakeInputKeyboard>(new FakeInputKeyboard(std::move(impl)));  // private constructor
}

FakeInputKeyboard::FakeInputKeyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FakeInputKeyboard::~FakeInputKeyboard() = default;

Status FakeInputKeyboard::pressPasteKey() {
    return impl_->chord(true);
}

Status FakeInputKeyboard::pressCopyKey() {
    return impl_->chord(false);
}

Status FakeInputKeyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    impl_->stats = {};
    if (Status status = impl_->broken(); !status) {
        return status;
    }
    const std::vector<wayland::TypingRun> runs = wayland::PlanTyping(text, impl_->currentLayout());
    Clipboard& clipboard = *impl_->clipboard;
    std::optional<Result<std::u16string>> saved;  // what the clipboard held before the first pasted run
    Status status = Status::success();
    bool stopped = false;
    for (std::size_t i = 0; i < runs.size() && status && !stopped; ++i) {
        if (!runs[i].paste) {
            status = impl_->typeKeys(runs[i].keys, betweenSlices, &stopped);
        } else {
            if (!saved) {
                saved = clipboard.hasText().valueOr(false) ? clipboard.getText()
                                                           : Result<std::u16string>::failure("no text");
            }
            status = impl_->pasteRun(runs[i].text);
        }
        if (status && !stopped && i + 1 < runs.size() && betweenSlices && !betweenSlices()) {
            stopped = true;
        }
    }
    if (saved) {
        const Status restored = *saved ? clipboard.setText(saved->value()) : clipboard.clear();
        if (!restored && status) {
            status = Status::failure("the clipboard could not be given back its text: " + restored.error());
        }
    }
    return status;
}

Status FakeInputKeyboard::waitUntilSent() {
    return impl_->roundtrip();
}

FakeInputKeyboard::TypingStats FakeInputKeyboard::lastTypingStats() const {
    return impl_->stats;
}

}  // namespace varnel
