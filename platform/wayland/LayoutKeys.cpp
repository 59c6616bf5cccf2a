#include "platform/wayland/LayoutKeys.h"

#include <xkbcommon/xkbcommon.h>

#include "base/Utf16.h"
#include "platform/keysyms/Keysyms.h"

namespace varnel::wayland {

namespace {

constexpr std::uint32_t EvdevOffset = 8;

struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

}  // namespace

LayoutKeys LayoutKeys::fromKeymap(xkb_keymap* keymap, std::uint32_t layout, std::uint32_t lockedModifiers) {
    LayoutKeys keys;
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    if (layout >= xkb_keymap_num_layouts(keymap)) {
        layout = 0;
    }
    // The modifier keys, by what they carry on their first level.
    xkb_keycode_t shift = 0, levelThree = 0, control = 0;
    for (xkb_keycode_t key = last; key >= first && key > 0; --key) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms) != 1) {
            continue;
        }
        // Lowest code wins: Shift_L before Shift_R, Control_L before Control_R.
        if (syms[0] == XKB_KEY_Shift_L || (syms[0] == XKB_KEY_Shift_R && shift == 0)) {
            shift = key;
        } else if (syms[0] == XKB_KEY_ISO_Level3_Shift) {
            levelThree = key;
        } else if (syms[0] == XKB_KEY_Control_L || (syms[0] == XKB_KEY_Control_R && control == 0)) {
            control = key;
        }
    }
    keys.shiftCode_ = shift != 0 ? shift - EvdevOffset : 0;
    keys.levelThreeCode_ = levelThree != 0 ? levelThree - EvdevOffset : 0;
    keys.controlCode_ = control != 0 ? control - EvdevOffset : 0;
    // Every key under each combination of held modifiers, fewest modifiers first, as the compositor's
    // own lookup would see it with the layout and the lock modifiers of the moment.
    for (const auto& [withShift, withLevelThree] :
         {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
        if ((withShift && shift == 0) || (withLevelThree && levelThree == 0)) {
            continue;
        }
        const std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap));
        if (!state) {
            continue;
        }
        xkb_state_update_mask(state.get(), 0, 0, lockedModifiers, 0, 0, layout);
        if (withShift) {
            xkb_state_update_key(state.get(), shift, XKB_KEY_DOWN);
        }
        if (withLevelThree) {
            xkb_state_update_key(state.get(), levelThree, XKB_KEY_DOWN);
        }
        for (xkb_keycode_t key = first; key <= last && key >= EvdevOffset; ++key) {
            if (key == shift || key == levelThree || key == control) {
                continue;
            }
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), key);
            if (sym == XKB_KEY_NoSymbol) {
                continue;
            }
            const KeyStroke stroke{key - EvdevOffset, withShift, withLevelThree};
            keys.strokes_.try_emplace(sym, stroke);
            // Also by the character it types: a layout carries legacy keysyms (Cyrillic_de, EuroSign)
            // where the text's characters are asked for by their Unicode keysyms. The keypad's keys
            // are left out: what they type depends on Num Lock.
            const std::uint32_t character = xkb_keysym_to_utf32(sym);
            if (character != 0 && !(sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_Equal)) {
                keys.characters_.try_emplace(character, stroke);
            }
        }
    }
    return keys;
}

const KeyStroke* LayoutKeys::strokeFor(std::uint32_t keysym) const {
    if (const auto found = strokes_.find(keysym); found != strokes_.end()) {
        return &found->second;
    }
    const std::uint32_t character = xkb_keysym_to_utf32(keysym);
    const auto found = character != 0 ? characters_.find(character) : characters_.end();
    return found != characters_.end() ? &found->second : nullptr;
}

std::vector<TypingRun> PlanTyping(const std::u16string& text, const LayoutKeys& layout) {
    // One keysym per code point, in the order of the code points.
    const std::vector<std::uint32_t> keysyms = KeysymsFor(text);
    std::vector<TypingRun> runs;
    std::size_t next = 0;
    for (std::size_t i = 0; i < text.size() && next < keysyms.size(); ++next) {
        const std::size_t units = DecodeUtf16At(text, i).units;
        const KeyStroke* stroke = layout.strokeFor(keysyms[next]);
        const bool paste = stroke == nullptr;
        if (runs.empty() || runs.back().paste != paste) {
            runs.push_back(TypingRun{paste, {}, {}});
        }
        runs.back().text.append(text, i, units);
        if (!paste) {
            runs.back().keys.push_back(*stroke);
        }
        i += units;
    }
    return runs;
}

}  // namespace varnel::wayland
