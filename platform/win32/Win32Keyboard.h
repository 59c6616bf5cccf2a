// Synthesised keys on Windows: SendInput, characters as KEYEVENTF_UNICODE units, paced by the target.
#pragma once

#include <cstddef>

#include "platform/Keyboard.h"

namespace varnel {

class Win32Keyboard : public Keyboard {
  public:
    Win32Keyboard() = default;

    Status pressPasteKey() override;  // Shift+Insert
    Status pressCopyKey() override;   // Ctrl+Insert
    // CR and a line feed are the Return key (a line feed typed as a character is what Ctrl+Enter
    // types, and a rich edit control drops it under Wine), tab the Tab key; every other UTF-16 unit
    // is typed as itself. Each slice ends with a sentinel key that the target must have taken before
    // the next slice goes out, so a slow target loses nothing.
    Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) override;
    // Sends an F24 press to the window in front and waits (2 s at most) until its thread has taken it,
    // and with it every key sent before.
    Status waitUntilSent() override;

    // What the last typing did, for tests and benchmarks.
    struct TypingStats {
        std::size_t unitsSent = 0;
        int slices = 0;
        bool paced = false;  // by the sentinel (false: fixed waits, the target's input was not reachable)
    };
    const TypingStats& lastTyping() const { return stats_; }

  private:
    TypingStats stats_;
};

}  // namespace varnel
