// Turning the bytes of a slot file into text.
#pragma once

#include <string>
#include <string_view>

#include "platform/Codepage.h"
#include "platform/Result.h"

namespace varnel {

enum class Utf8Errors {
    Stop,     // give up at the first ill-formed sequence
    Replace,  // each maximal ill-formed subpart becomes U+FFFD
};

// Decodes UTF-8 into UTF-16 in one pass. Returns false when it stopped at an ill-formed sequence
// (Utf8Errors::Stop); `out` then holds an unspecified prefix.
bool DecodeUtf8(std::string_view bytes, std::u16string& out, Utf8Errors errors);

// The decoding rule for slot files: bytes that are well-formed UTF-8, with or without a byte order
// mark, are UTF-8; a file that starts with the UTF-8 byte order mark is UTF-8 even where a sequence
// is ill-formed (that sequence becomes U+FFFD); anything else is code page 932. The byte order mark
// is not part of the text. Fails only when the code page converter is unavailable.
Result<std::u16string> DecodeSlotFile(std::string_view bytes, const Codepage& codepage);

}  // namespace varnel
