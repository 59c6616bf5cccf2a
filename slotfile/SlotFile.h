// Slot files: sections [text01]..[text10], each closed by [end], that fill slots at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Forms.h"
#include "platform/Codepage.h"
#include "platform/Files.h"
#include "platform/Result.h"
#include "slotfile/SlotFieldReader.h"

namespace varnel {

// The slot a header field opens: 1..10 for "[text01]".."[text10]" in any letter case, otherwise none.
std::optional<std::int16_t> SlotHeaderNumber(std::u16string_view field);
// True for "[end]" in any letter case.
bool IsSlotEndMarker(std::u16string_view field);

// The slots' texts while a file is loaded. Loading runs over the fields twice: first measuring, so
// that each slot's text is allocated once at its final size, then appending. Each slot's text is read
// before the first append and written back once by writeBack(), so that loading stays linear however
// many fields a slot receives.
class PendingSlotTexts {
  public:
    explicit PendingSlotTexts(Slots& slots) : slots_(slots) {}
    void append(std::int16_t slot, std::u16string_view separator, std::u16string_view field);
    // Ends the measuring pass: later appends go into the texts.
    void startAppending();
    // Writes every slot that received a field; the others are left alone.
    void writeBack();

  private:
    struct Pending {
        bool touched = false;
        std::size_t added = 0;
        std::u16string text;
    };
    Slots& slots_;
    bool measuring_ = true;
    std::array<Pending, 10> pending_;
};

// Reads the fields after a header up to and including "[end]", or up to the end of the text, and
// appends them to the slot's text: the first directly, the others after CR LF.
void ReadSlotSection(SlotFieldReader& reader, std::int16_t slot, PendingSlotTexts& texts);

// Fills the slots from a slot file's decoded text. Fields outside a section are ignored.
void LoadSlotText(std::u16string_view text, Slots& slots);

// Reads, decodes and loads the slot file at `path`. When the file cannot be read or decoded, no slot
// changes and the failure is returned.
Status LoadSlotFile(const std::string& path, const Files& files, const Codepage& codepage, Slots& slots);

}  // namespace varnel
