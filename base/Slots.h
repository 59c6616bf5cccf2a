// The slots as the behaviour sees them: their numbers and the text boxes that hold their text.
#pragma once

#include <cstdint>
#include <string>

#include "base/SharedText.h"

namespace varnel {

constexpr std::int16_t FirstSlot = 1;
constexpr std::int16_t LastSlot = 10;

enum class SlotBackground {
    Window,   // the system window-background colour
    Capture,  // the capture colour &HC0FFFF, light yellow
};

// The ten slot text boxes slotEdit(1)..slotEdit(10), the only store of slot text.
class Slots {
  public:
    virtual ~Slots() = default;
    // Empty text for an index that names no slot.
    virtual std::u16string text(std::int16_t index) const = 0;
    // False when the index names no slot; nothing is written then.
    virtual bool setText(std::int16_t index, const std::u16string& text) = 0;
    // The slot's text as a shared string, for texts that can run to hundreds of megabytes. The
    // defaults copy; the real slots share.
    virtual SharedText sharedText(std::int16_t index) const { return SharedText(text(index)); }
    // setText for a text the slot may keep without a copy.
    virtual bool setSharedText(std::int16_t index, const SharedText& text) {
        return setText(index, text.str());
    }
    virtual bool setBackground(std::int16_t index, SlotBackground colour) = 0;
};

}  // namespace varnel
