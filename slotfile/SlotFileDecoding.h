// Turning the bytes of a slot file into text.
#pragma once

#include <string>
#include <string_view>

#include "core/Utf8.h"
#include "platform/Codepage.h"
#include "platform/Result.h"

namespace varnel {

// The decoding rule for slot files: bytes that are well-formed UTF-8, with or without a byte order
// mark, are UTF-8; a file that starts with the UTF-8 byte order mark is UTF-8 even where a sequence
// is ill-formed (that sequence becomes U+FFFD); anything else is code page 932. The byte order mark
// is not part of the text. Fails only when the code page converter is unavailable.
Result<std::u16string> DecodeSlotFile(std::string_view bytes, const Codepage& codepage);

}  // namespace varnel
