#include "slotfile/SlotFileDecoding.h"

#include <cstdint>
#include <cstring>

namespace varnel {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

}  // namespace

Result<std::u16string> DecodeSlotFile(std::string_view bytes, const Codepage& codepage) {
    const bool bom = bytes.starts_with(Utf8Bom);
    if (bom) {
        bytes.remove_prefix(Utf8Bom.size());
    }
    std::u16string text;
    if (DecodeUtf8(bytes, text, bom ? Utf8Errors::Replace : Utf8Errors::Stop)) {
        return Result<std::u16string>::success(std::move(text));
    }
    text = std::u16string{};  // give the memory back before the second decoding
    return codepage.decodeCp932(bytes);
}

}  // namespace varnel
