#include "slotfile/SlotFile.h"

#include "core/AppState.h"
#include "slotfile/SlotFileDecoding.h"

namespace varnel {

namespace {

char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
}

// Compares with a lower-case ASCII word. Lower-casing maps no character outside ASCII onto the
// letters used here, so an ASCII comparison is exact.
bool equalsLowerAscii(std::u16string_view field, std::u16string_view lower) {
    if (field.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (asciiLower(field[i]) != lower[i]) {
            return false;
        }
    }
    return true;
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

std::optional<std::int16_t> SlotHeaderNumber(std::u16string_view field) {
    // "[textNN]": the number is characters 6 and 7, counted from 1.
    if (field.size() != 8 || !equalsLowerAscii(field.substr(0, 5), u"[text") || field[7] != u']' ||
        !isDigit(field[5]) || !isDigit(field[6])) {
        return std::nullopt;
    }
    const int number = (field[5] - u'0') * 10 + (field[6] - u'0');
    if (number < FirstSlot || number > LastSlot) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(number);
}

bool IsSlotEndMarker(std::u16string_view field) {
    return equalsLowerAscii(field, u"[end]");
}

void PendingSlotTexts::append(std::int16_t slot, std::u16string_view separator, std::u16string_view field) {
    if (slot < FirstSlot || slot > LastSlot) {
        return;
    }
    Pending& p = pending_[static_cast<std::size_t>(slot - FirstSlot)];
    if (measuring_) {
        p.touched = true;
        p.added += separator.size() + field.size();
        return;
    }
    if (!p.touched) {
        // Not seen while measuring: appended without a reservation.
        p.touched = true;
        p.text = slots_.text(slot);
    }
    p.text += separator;
    p.text += field;
}

void PendingSlotTexts::startAppending() {
    measuring_ = false;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        Pending& p = pending_[i];
        if (p.touched) {
            p.text = slots_.text(static_cast<std::int16_t>(FirstSlot + i));
            p.text.reserve(p.text.size() + p.added);
        }
    }
}

void PendingSlotTexts::writeBack() {
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        Pending& p = pending_[i];
        if (p.touched) {
            slots_.setText(static_cast<std::int16_t>(FirstSlot + i), p.text);
        }
        p = Pending{};
    }
    measuring_ = true;
}

void ReadSlotSection(SlotFieldReader& reader, std::int16_t slot, PendingSlotTexts& texts) {
    std::u16string_view separator;
    // A header that was the last field leaves nothing to read: the slot stays as it was.
    while (!reader.atEnd()) {
        const std::u16string_view field = reader.readField();
        if (IsSlotEndMarker(field)) {
            return;
        }
        texts.append(slot, separator, field);
        separator = u"\r\n";
    }
}

namespace {

void readSections(std::u16string_view text, PendingSlotTexts& texts) {
    SlotFieldReader reader(text);
    while (!reader.atEnd()) {
        if (const auto slot = SlotHeaderNumber(reader.readField())) {
            ReadSlotSection(reader, *slot, texts);
        }
    }
}

}  // namespace

void LoadSlotText(std::u16string_view text, Slots& slots) {
    PendingSlotTexts texts(slots);
    readSections(text, texts);
    texts.startAppending();
    readSections(text, texts);
    texts.writeBack();
}

namespace {

Result<std::u16string> readText(const std::string& path, const Files& files, const Codepage& codepage) {
    const Result<std::string> bytes = files.readBytes(path);
    if (!bytes) {
        return Result<std::u16string>::failure(bytes.error());
    }
    return DecodeSlotFile(bytes.value(), codepage);
}

}  // namespace

Status LoadSlotFile(const std::string& path, const Files& files, const Codepage& codepage, Slots& slots) {
    // The bytes are gone once the text is decoded; only the text is held while the slots fill.
    const Result<std::u16string> text = readText(path, files, codepage);
    if (!text) {
        return Status::failure(text.error());
    }
    LoadSlotText(text.value(), slots);
    return Status::success();
}

}  // namespace varnel
