// Slot file bytes through the decoding rule, the field reader and the loader, which must agree with
// reading the fields of the decoded text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/AppWindows.h"
#include "slotfile/SlotFieldReader.h"
#include "slotfile/SlotFile.h"
#include "slotfile/SlotFileDecoding.h"
#include "tests/support/DecodeSlotFile.h"
#include "tests/support/NativeServices.h"

namespace {

class Slots : public varnel::Slots {
  public:
    std::u16string text(std::int16_t index) const override { return valid(index) ? texts[index - 1] : u""; }
    bool setText(std::int16_t index, const std::u16string& t) override {
        if (!valid(index)) {
            std::abort();  // the loader only writes slots 1..10
        }
        texts[index - 1] = t;
        return true;
    }
    bool setBackground(std::int16_t, varnel::SlotBackground) override { std::abort(); }

    static bool valid(std::int16_t i) { return i >= 1 && i <= 10; }
    std::u16string texts[10];
};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Lenient UTF-8 decoding never writes more units than bytes and agrees with strict decoding.
    const varnel::NativeCodepage codepage;
    std::u16string lenient;
    std::u16string strict;
    varnel::DecodeUtf8(bytes, lenient, varnel::Utf8Errors::Replace);
    check(lenient.size() <= size);
    if (varnel::DecodeUtf8(bytes, strict, varnel::Utf8Errors::Stop)) {
        check(strict == lenient);
        // The loader sizes its texts by this count.
        const auto utf8 = varnel::SlotTextDecoder::create(varnel::SlotFileEncoding::Utf8, codepage);
        check(utf8.value()->units(bytes) == strict.size());
    }

    const auto text = varnel::DecodeSlotFile(bytes, codepage);
    check(text.ok());
    check(text.value().size() <= size);

    // The reader always moves on: at most one field per character, plus one.
    varnel::SlotFieldReader reader(text.value());
    std::size_t fields = 0;
    while (!reader.atEnd()) {
        const auto field = reader.readField();
        check(field.size() <= 2 * text.value().size());
        check(++fields <= text.value().size() + 1);
    }

    // Loading from the bytes gives what reading the decoded text field by field gives.
    Slots slots;
    check(varnel::LoadSlotBytes(bytes, codepage, slots).ok());
    std::u16string expected[10];
    varnel::SlotFieldReader sections(text.value());
    while (!sections.atEnd()) {
        if (const auto slot = varnel::SlotHeaderNumber(sections.readField())) {
            std::u16string_view separator;
            while (!sections.atEnd()) {
                const auto field = sections.readField();
                if (varnel::IsSlotEndMarker(field)) {
                    break;
                }
                (expected[*slot - 1] += separator) += field;
                separator = u"\r\n";
            }
        }
    }
    for (int i = 0; i < 10; ++i) {
        check(slots.texts[i] == expected[i]);
    }
    return 0;
}
