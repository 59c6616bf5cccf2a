// Slot files: sections [text01]..[text10], each closed by [end], that fill slots at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "base/Slots.h"
#include "platform/Codepage.h"
#include "platform/Files.h"

namespace varnel {

// The slot a header field opens: 1..10 for "[text01]".."[text10]" in any letter case, otherwise none.
std::optional<std::int16_t> SlotHeaderNumber(std::u16string_view field);
std::optional<std::int16_t> SlotHeaderNumber(std::string_view field);
// True for "[end]" in any letter case.
bool IsSlotEndMarker(std::u16string_view field);
bool IsSlotEndMarker(std::string_view field);

// Called with an offset into the bytes before which the loader reads nothing again.
using ReleaseBytes = std::function<void(std::size_t offset)>;

// Fills the slots from a slot file's bytes. Fields outside a section are ignored; a section's fields
// are appended to its slot's text, the first directly, the others after CR LF.
//
// The fields are found in the bytes themselves (their delimiters mean the same in both encodings) and
// each section's text is decoded as it is appended, so the file is never held as a whole decoded
// text. The bytes are read twice: first measuring, so that each slot's text is allocated once at its
// final size, then appending; each slot is written once, at the end. While appending, `release` learns
// how far the bytes are done with. When decoding fails, no slot changes and the failure is returned.
Status LoadSlotBytes(std::string_view bytes, const Codepage& codepage, Slots& slots,
                     const ReleaseBytes& release = {});

// Reads and loads the slot file at `path`. When the file cannot be read or decoded, no slot changes
// and the failure is returned.
Status LoadSlotFile(const std::string& path, const Files& files, const Codepage& codepage, Slots& slots);

}  // namespace varnel
