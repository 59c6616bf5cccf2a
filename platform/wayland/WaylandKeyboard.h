// Synthesised keys in a Wayland session through the virtual-keyboard protocol, on a connection of
// its own.
//
// The virtual keyboard is a keyboard of its own in the compositor's seat: it carries a keymap made
// for the text being typed, in which every distinct character has a key of its own (up to 240 per
// keymap; a longer set of characters is typed with one keymap per 240). The user's keyboards and their
// keymaps are never touched, so there is nothing to restore. Shift+Insert and Ctrl+Insert are sent with
// a small fixed keymap.
#pragma once

#include <memory>
#include <string>

#include "platform/Keyboard.h"

namespace varnel {

class WaylandKeyboard : public Keyboard {
  public:
    // Null, with the reason in *why, when the compositor offers no virtual keyboard or no seat.
    static std::unique_ptr<WaylandKeyboard> open(std::string* why);
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    Status pressPasteKey() override;
    Status pressCopyKey() override;
    using Keyboard::typeText;
    Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) override;
    Status waitUntilSent() override;

    // Keymaps uploaded by the last typeText (for measurements).
    int lastKeymapCount() const;

    struct Impl;

  private:
    explicit WaylandKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
