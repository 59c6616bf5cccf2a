#include "platform/wayland/WaylandKeyboard.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "platform/keysyms/Keysyms.h"
#include "platform/wayland/WaylandConnection.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace varnel {

namespace {

constexpr std::chrono::milliseconds SentBound{2000};
// Sending blocks at most this long on a full socket before the keys are given up.
constexpr std::chrono::milliseconds FlushBound{2000};

// Fixed keys (evdev codes + 8): Shift, Control and Insert, kept out of the character keys.
constexpr std::uint32_t ShiftKey = 50;
constexpr std::uint32_t ControlKey = 37;
constexpr std::uint32_t InsertKey = 118;
constexpr std::uint32_t FirstKey = 9;
constexpr std::uint32_t LastKey = 255;
constexpr std::uint32_t ShiftMask = 1u << 0;  // real modifier order: Shift, Lock, Control, ...
constexpr std::uint32_t ControlMask = 1u << 2;
constexpr std::uint32_t KeyPressed = 1;
constexpr std::uint32_t KeyReleased = 0;

bool IsFixed(std::uint32_t key) {
    return key == ShiftKey || key == ControlKey || key == InsertKey;
}

std::string KeysymName(std::uint32_t keysym) {
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0) {
        return "NoSymbol";
    }
    return name;
}

// A keymap with the fixed keys and the given keysyms on keys FirstKey.. (skipping the fixed ones).
std::string MakeKeymap(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& keys) {
    std::string codes = "xkb_keycodes \"varnel\" {\n minimum = 8;\n maximum = 255;\n";
    std::string symbols = "xkb_symbols \"varnel\" {\n";
    auto add = [&](std::uint32_t key, const std::string& sym) {
        codes += " <K" + std::to_string(key) + "> = " + std::to_string(key) + ";\n";
        symbols += " key <K" + std::to_string(key) + "> { [ " + sym + " ] };\n";
    };
    add(ShiftKey, "Shift_L");
    add(ControlKey, "Control_L");
    add(InsertKey, "Insert");
    for (const auto& [key, keysym] : keys) {
        add(key, KeysymName(keysym));
    }
    symbols += " modifier_map Shift { <K" + std::to_string(ShiftKey) + "> };\n";
    symbols += " modifier_map Control { <K" + std::to_string(ControlKey) + "> };\n};\n";
    codes += "};\n";
    return "xkb_keymap {\n" + codes +
           "xkb_types \"varnel\" { include \"complete\" };\n"
           "xkb_compatibility \"varnel\" { include \"complete\" };\n" +
           symbols + "};\n";
}

}  // namespace

struct WaylandKeyboard::Impl : wayland::SeatConnection {
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    xkb_context* xkb = nullptr;
    std::string currentKeymap;
    int keymapCount = 0;

    ~Impl() {
        if (keyboard != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard);
        }
        if (manager != nullptr) {
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        }
        if (xkb != nullptr) {
            xkb_context_unref(xkb);
        }
    }

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat == nullptr) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
                   self->manager == nullptr) {
            self->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener RegistryListener{onGlobal, onGlobalRemove};

    bool broken() const { return wl_display_get_error(display) != 0; }

    // Sends what is queued, waiting (bounded) while the socket is full.
    Status flush() {
        const auto deadline = std::chrono::steady_clock::now() + FlushBound;
        while (wl_display_flush(display) < 0) {
            if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
                return Status::failure("the keys could not be sent to the compositor");
            }
            pollfd fd{wl_display_get_fd(display), POLLOUT, 0};
            poll(&fd, 1, 10);
            wayland::DispatchPending(display);
        }
        return Status::success();
    }

    // Uploads the keymap unless it is the one in use; it is checked by compiling it here first.
    Status useKeymap(const std::string& text) {
        if (text == currentKeymap) {
            return Status::success();
        }
        xkb_keymap* compiled = xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (compiled == nullptr) {
            return Status::failure("the keymap for the text does not compile");
        }
        xkb_keymap_unref(compiled);
        const int fd = memfd_create("varnel-keymap", MFD_CLOEXEC);
        if (fd < 0) {
            return Status::failure(std::string("memfd_create: ") + std::strerror(errno));
        }
        const std::size_t size = text.size() + 1;  // with the terminating NUL
        bool written = true;
        for (std::size_t done = 0; done < size && written;) {
            const ssize_t n = ::write(fd, text.c_str() + done, size - done);
            written = n > 0;
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        if (!written) {
            ::close(fd);
            return Status::failure("the keymap could not be written");
        }
        zwp_virtual_keyboard_v1_keymap(keyboard, XKB_KEYMAP_FORMAT_TEXT_V1, fd,
                                       static_cast<std::uint32_t>(size));
        ::close(fd);
        currentKeymap = text;
        ++keymapCount;
        return Status::success();
    }

    void tap(std::uint32_t key) {
        const std::uint32_t time = wayland::NowMilliseconds();
        zwp_virtual_keyboard_v1_key(keyboard, time, key - 8, KeyPressed);
        zwp_virtual_keyboard_v1_key(keyboard, time, key - 8, KeyReleased);
    }

    Status chord(std::uint32_t modifierKey, std::uint32_t mask) {
        if (broken()) {
            return Status::failure(wayland::ConnectionError(display));
        }
        if (auto status = useKeymap(MakeKeymap({})); !status) {
            return status;
        }
        const std::uint32_t time = wayland::NowMilliseconds();
        zwp_virtual_keyboard_v1_key(keyboard, time, modifierKey - 8, KeyPressed);
        zwp_virtual_keyboard_v1_modifiers(keyboard, mask, 0, 0, 0);
        tap(InsertKey);
        zwp_virtual_keyboard_v1_key(keyboard, time, modifierKey - 8, KeyReleased);
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
        return flush();
    }
};

std::unique_ptr<WaylandKeyboard> WaylandKeyboard::open(std::string* why) {
    auto impl = std::make_unique<Impl>();
    impl->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (impl->xkb == nullptr) {
        return wayland::Failed(why, "xkbcommon could not be set up");
    }
    if (const char* reason = impl->connect(&Impl::RegistryListener, impl.get())) {
        return wayland::Failed(why, reason);
    }
    if (impl->manager == nullptr) {
        return wayland::Failed(why,
                               "the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
    }
    impl->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(impl->manager, impl->seat);
    // A keyboard must have a keymap before its first key.
    if (!impl->useKeymap(MakeKeymap({})) || !wayland::Roundtrip(impl->display, wayland::ConnectBound)) {
        return wayland::Failed(why, "the compositor refused the virtual keyboard");
    }
    return std::unique_ptr<WaylandKeyboard>(new WaylandKeyboard(std::move(impl)));  // private constructor
}

WaylandKeyboard::WaylandKeyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WaylandKeyboard::~WaylandKeyboard() = default;

Status WaylandKeyboard::pressPasteKey() {
    return impl_->chord(ShiftKey, ShiftMask);
}

Status WaylandKeyboard::pressCopyKey() {
    return impl_->chord(ControlKey, ControlMask);
}

Status WaylandKeyboard::typeText(const std::u16string& text, const BetweenSlices& betweenSlices) {
    impl_->keymapCount = 0;
    if (impl_->broken()) {
        return Status::failure(wayland::ConnectionError(impl_->display));
    }
    const std::vector<std::uint32_t> keysyms = KeysymsFor(text);
    std::size_t start = 0;
    while (start < keysyms.size()) {
        // The longest run from `start` whose distinct characters fit on one keymap.
        std::map<std::uint32_t, std::uint32_t> keyOf;
        std::uint32_t next = FirstKey;
        std::size_t end = start;
        for (; end < keysyms.size(); ++end) {
            if (keyOf.count(keysyms[end]) != 0) {
                continue;
            }
            while (IsFixed(next)) {
                ++next;
            }
            if (next > LastKey) {
                break;
            }
            keyOf[keysyms[end]] = next++;
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;
        for (const auto& [keysym, key] : keyOf) {
            keys.emplace_back(key, keysym);
        }
        std::sort(keys.begin(), keys.end());
        if (auto status = impl_->useKeymap(MakeKeymap(keys)); !status) {
            return status;
        }
        zwp_virtual_keyboard_v1_modifiers(impl_->keyboard, 0, 0, 0, 0);
        for (std::size_t i = start; i < end; ++i) {
            impl_->tap(keyOf[keysyms[i]]);
            if ((i - start) % 64 == 63) {
                if (auto status = impl_->flush(); !status) {
                    return status;
                }
            }
        }
        if (auto status = impl_->flush(); !status) {
            return status;
        }
        start = end;
        // Between keymaps no key is held: the caller's events run here, and it may stop the typing.
        if (start < keysyms.size() && betweenSlices && !betweenSlices()) {
            break;
        }
    }
    return Status::success();
}

Status WaylandKeyboard::waitUntilSent() {
    if (!wayland::Roundtrip(impl_->display, SentBound)) {
        return Status::failure("the compositor did not confirm the keys in time");
    }
    return Status::success();
}

int WaylandKeyboard::lastKeymapCount() const {
    return impl_->keymapCount;
}

}  // namespace varnel
