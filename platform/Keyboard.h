// Synthesised key input into the foreground window.
#pragma once

#include <string>

#include "platform/Result.h"

namespace varnel {

class Keyboard {
  public:
    virtual ~Keyboard() = default;

    // The paste key (Shift+Insert).
    virtual Status pressShiftInsert() = 0;
    // The copy key (Ctrl+Insert).
    virtual Status pressCtrlInsert() = 0;
    // Types every character as itself: nothing in the text is a command. A carriage return is the
    // Return key, a line feed the Linefeed key, a tab the Tab key.
    virtual Status typeText(const std::u16string& text) = 0;
    // Returns once the keys sent so far have been delivered.
    virtual Status waitUntilSent() = 0;
};

}  // namespace varnel
