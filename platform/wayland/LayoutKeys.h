// Which keys of the user's keyboard layout type which characters, for key input that can only send
// key codes (KWin's fake input): the compositor looks each key up in the user's own keymap, so a
// character can be typed only where that layout has it, with Shift and the third-level shift (AltGr)
// at most. Everything else has to reach the target another way (pasted).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct xkb_keymap;

namespace varnel::wayland {

// One key with the modifier keys held around it; codes are evdev codes (xkb keycode - 8).
struct KeyStroke {
    std::uint32_t code = 0;
    bool shift = false;
    bool levelThree = false;
    bool operator==(const KeyStroke&) const = default;
};

class LayoutKeys {
  public:
    // The keys of one layout (group) of a compiled keymap, read with the given modifiers locked (the
    // keymap's mask: Caps Lock turns letters round).
    static LayoutKeys fromKeymap(xkb_keymap* keymap, std::uint32_t layout, std::uint32_t lockedModifiers = 0);

    // The key that types the keysym (or the character it stands for) with the fewest modifiers; null
    // when the layout has none.
    const KeyStroke* strokeFor(std::uint32_t keysym) const;
    // The modifier keys' own codes; 0 when the layout has no such key.
    std::uint32_t shiftCode() const { return shiftCode_; }
    std::uint32_t levelThreeCode() const { return levelThreeCode_; }
    std::uint32_t controlCode() const { return controlCode_; }
    bool empty() const { return strokes_.empty(); }

  private:
    std::map<std::uint32_t, KeyStroke> strokes_;     // by keysym
    std::map<std::uint32_t, KeyStroke> characters_;  // by the character a keysym types
    std::uint32_t shiftCode_ = 0, levelThreeCode_ = 0, controlCode_ = 0;
};

// A stretch of text to be typed as keys, or, where the layout cannot type its characters, pasted.
struct TypingRun {
    bool paste = false;
    std::u16string text;          // the run's characters, as in the input
    std::vector<KeyStroke> keys;  // one per character when typed
};

// Splits the text into runs of characters the layout types and runs it cannot, in order; together
// the runs hold every character of the text. Tab is the Tab key, CR and LF the Return key.
std::vector<TypingRun> PlanTyping(const std::u16string& text, const LayoutKeys& layout);

}  // namespace varnel::wayland
