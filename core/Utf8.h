// UTF-8 and UTF-16, the one pair of converters every part of the program uses.
#pragma once

#include <string>
#include <string_view>

namespace varnel {

enum class Utf8Errors {
    Stop,     // give up at the first ill-formed sequence
    Replace,  // each maximal ill-formed subpart becomes U+FFFD
};

// Decodes UTF-8 into UTF-16 in one pass. Returns false when it stopped at an ill-formed sequence
// (Utf8Errors::Stop); `out` then holds an unspecified prefix.
bool DecodeUtf8(std::string_view bytes, std::u16string& out, Utf8Errors errors);

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text);

}  // namespace varnel
