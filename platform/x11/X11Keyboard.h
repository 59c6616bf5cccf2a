// Synthesised keys on X11 through XTest, on a connection of its own.
//
// Text is typed character for character. Characters the current keymap carries are typed on their own
// keys at the right shift level; the others go through spare keycodes (keycodes without keysyms), which
// are remapped in batches — one XChangeKeyboardMapping per batch for all spare keycodes, both shift levels
// each — with a settle time around each batch so the target reads every key with the mapping it was typed
// with. Every keymap change costs every client (the window manager above all) a keymap reload, so the
// batches are as few as the text allows. The spare keycodes get their original mapping back at the end,
// on every path.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Keyboard.h"

namespace varnel {

class X11Keyboard : public Keyboard {
  public:
    struct Options {
        // Wait after each remap before typing on it, and after the keys typed on it before the next remap
        // or the restore: the target must have read them with the mapping they were typed with.
        std::chrono::milliseconds remapSettle{45};
        // How long typing waits for modifier keys the user still holds to be released.
        std::chrono::milliseconds modifierReleaseBound{2000};
    };

    // What the last typeText did (for measurements).
    struct TypingStats {
        int keymapChanges = 0;  // XChangeKeyboardMapping calls, the restore included
        int spareKeycodes = 0;
        int remappedCharacters = 0;  // characters typed through spare keycodes
        bool modifiersStillHeld = false;
    };

    // Null when the display cannot be opened or has no XTest; the reason goes to *why (may be null).
    static std::unique_ptr<X11Keyboard> open(std::string* why);
    static std::unique_ptr<X11Keyboard> open(std::string* why, Options options);
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    Status pressShiftInsert() override;
    Status pressCtrlInsert() override;
    Status typeText(const std::u16string& text) override;
    Status waitUntilSent() override;

    TypingStats lastTypingStats() const;

    // The keysym typing each character of text: Tab, Return for a carriage return, Linefeed for a line
    // feed, Latin-1 keysyms for printable Latin-1, Unicode keysyms (0x1000000 + code point) for everything
    // else. Surrogate pairs are decoded; an unpaired surrogate becomes U+FFFD.
    static std::vector<std::uint32_t> keysymsFor(const std::u16string& text);

  private:
    struct Impl;
    explicit X11Keyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
