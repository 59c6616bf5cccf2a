// A slot file's whole text in one piece, decoded by the rule the loader follows (slotfile/
// SlotFileDecoding.h): what the tests, the fuzz target and the benchmarks compare the loader with.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/Utf8.h"
#include "platform/Codepage.h"
#include "base/Result.h"
#include "slotfile/SlotFileDecoding.h"

namespace varnel {

// Fails only when the code page converter is unavailable.
inline Result<std::u16string> DecodeSlotFile(std::string_view bytes, const Codepage& codepage) {
    const SlotFileFormat format = DetectSlotFileFormat(bytes);
    bytes.remove_prefix(format.textStart);
    std::u16string text;
    if (format.encoding == SlotFileEncoding::Utf8) {
        DecodeUtf8(bytes, text, Utf8Errors::Replace);
        return Result<std::u16string>::success(std::move(text));
    }
    const auto decoder = SlotTextDecoder::create(format.encoding, codepage);
    if (!decoder) {
        return Result<std::u16string>::failure(decoder.error());
    }
    text.reserve(decoder.value()->units(bytes));
    if (const Status done = decoder.value()->append(bytes, text); !done) {
        return Result<std::u16string>::failure(done.error());
    }
    return Result<std::u16string>::success(std::move(text));
}

}  // namespace varnel
