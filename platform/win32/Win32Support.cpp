#include "platform/win32/Win32Support.h"

#include <windows.h>

#include "base/Utf8.h"

namespace varnel {

std::string LastErrorText() {
    return ErrorText(::GetLastError());
}

std::string ErrorText(unsigned long error) {
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length > 0 && message != nullptr ? std::wstring(message, length) : std::wstring();
    ::LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return "error " + std::to_string(error) + (text.empty() ? "" : ": " + Utf8FromWide(text));
}

// A wchar_t is one UTF-16 unit here, so the program's own converters serve: a name or message reads
// the same as any other text, ill-formed parts included.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring WideFromUtf8(std::string_view text) {
    std::u16string units;
    DecodeUtf8(text, units, Utf8Errors::Replace);
    return std::wstring(units.begin(), units.end());
}

std::string Utf8FromWide(std::wstring_view text) {
    return EncodeUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace varnel
