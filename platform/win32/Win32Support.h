// Small helpers shared by the Windows backends.
#pragma once

#include <string>
#include <string_view>

namespace varnel {

// The system's message for an error code, with its number, in UTF-8.
std::string ErrorText(unsigned long error);
// The same for GetLastError().
std::string LastErrorText();
// UTF-8 to UTF-16 and back; ill-formed input becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace varnel
