// Synthesised key input into the foreground window.
#pragma once

#include <functional>
#include <string>

#include "base/Result.h"

namespace varnel {

class Keyboard {
  public:
    virtual ~Keyboard() = default;

    // The paste key that every kind of target understands (Shift+Insert on X11 and Windows).
    virtual Status pressPasteKey() = 0;
    // The copy key that every kind of target understands (Ctrl+Insert on X11 and Windows).
    virtual Status pressCopyKey() = 0;
    // Called between the slices of a long typing, with no key held down; the caller handles its
    // pending events there. Returning false stops the typing.
    using BetweenSlices = std::function<bool()>;

    // Types every character as itself: nothing in the text is a command. A carriage return is the
    // Return key, a lone line feed a line break too (the Return key where a line feed has no key a
    // target understands), a tab the Tab key. The typing runs in slices of a
    // few tens of milliseconds with betweenSlices (when set) called after each; it also stops when
    // the user presses Escape. A stopped typing types nothing more and leaves the keyboard as it was
    // found, and counts as success: only a typing that could not go on as asked fails.
    virtual Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) = 0;
    Status typeText(const std::u16string& text) { return typeText(text, BetweenSlices{}); }
    // Returns once the keys sent so far have been delivered.
    virtual Status waitUntilSent() = 0;
};

}  // namespace varnel
