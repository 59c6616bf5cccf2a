// Synthesised keys on KWin through its fake input protocol, on a connection of its own.
//
// KWin grants the protocol only to a program whose desktop entry lists it (X-KDE-Wayland-Interfaces).
// Fake input sends key codes, which KWin looks up in the user's own keymap: the paste and copy chords
// are Shift+Insert and Ctrl+Insert, and a text is typed with the keys of the active layout (its keymap
// read from our own seat's keyboard, Caps Lock's state from KWin's key states where granted too). Runs
// of characters that layout cannot type are pasted instead:
// the run is put on the clipboard, the paste chord sent, and once the typing ends the clipboard gets
// back what it held before. The user's keymap is never changed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clipboard.h"
#include "platform/Keyboard.h"

namespace varnel {

class FakeInputKeyboard : public Keyboard {
  public:
    // The index of the layout in use (KWin tells it over D-Bus); empty when it cannot be told, and the
    // first layout is used.
    using ActiveLayout = std::function<std::optional<std::uint32_t>()>;

    // Null, with the reason in *why, when the compositor does not grant fake input or has no keyboard
    // on the seat. The clipboard carries the runs that are pasted.
    static std::unique_ptr<FakeInputKeyboard> open(Clipboard& clipboard, ActiveLayout activeLayout,
                                                   std::string* why);
    ~FakeInputKeyboard() override;
    FakeInputKeyboard(const FakeInputKeyboard&) = delete;
    FakeInputKeyboard& operator=(const FakeInputKeyboard&) = delete;

    Status pressPasteKey() override;
    Status pressCopyKey() override;
    using Keyboard::typeText;
    Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) override;
    Status waitUntilSent() override;

    // What the last typeText did (for measurements and tests).
    struct TypingStats {
        int typedCharacters = 0;
        int pastedRuns = 0;
    };
    TypingStats lastTypingStats() const;

    struct Impl;

  private:
    explicit FakeInputKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
