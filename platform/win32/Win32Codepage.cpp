#include "platform/win32/Win32Codepage.h"

#include <windows.h>

#include <string>

#include "platform/win32/Win32Support.h"

namespace varnel {

namespace {

constexpr UINT kCodePage932 = 932;
constexpr char16_t kReplacement = u'\uFFFD';
// Runs of this many bytes or fewer go to the converter in one call.
constexpr std::size_t kRunBytes = 16384;

bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}
// Single bytes that Windows maps but that are no characters of the code page.
bool isUnmappedSingleByte(unsigned char b) {
    return b == 0x80 || b == 0xA0 || b >= 0xFD;
}

// Decodes bytes that end on a character boundary and appends the text. Returns ERROR_SUCCESS, or the
// converter's error (ERROR_NO_UNICODE_TRANSLATION when some sequence is not a character) with
// nothing appended.
DWORD convert(std::string_view bytes, std::u16string& out) {
    if (bytes.empty()) {
        return ERROR_SUCCESS;
    }
    const int inLength = static_cast<int>(bytes.size());
    const std::size_t at = out.size();
    out.resize(at + bytes.size());  // never more units than bytes
    const int written = ::MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, bytes.data(), inLength,
                                              reinterpret_cast<wchar_t*>(out.data() + at), inLength);
    const DWORD error = written > 0 ? ERROR_SUCCESS : ::GetLastError();
    out.resize(at + static_cast<std::size_t>(written > 0 ? written : 0));
    return error;
}

}  // namespace

Result<std::u16string> Win32Codepage::decodeCp932(std::string_view bytes) const {
    if (!::IsValidCodePage(kCodePage932)) {
        return Result<std::u16string>::failure("code page 932 is not installed");
    }
    std::u16string out;
    out.reserve(bytes.size());
    // Text is cut into runs at character boundaries, each without the single bytes that are decoded
    // by rule. A run the converter accepts is done in one call; a run it rejects is decoded again
    // character by character, each rejected character becoming U+FFFD.
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t runStart = 0;
    std::size_t i = 0;
    DWORD failure = ERROR_SUCCESS;
    const auto flushRun = [&](std::size_t end) {
        const std::string_view run = bytes.substr(runStart, end - runStart);
        const DWORD error = convert(run, out);
        if (error != ERROR_NO_UNICODE_TRANSLATION) {
            failure = error;
            return error == ERROR_SUCCESS;
        }
        for (std::size_t k = 0; k < run.size();) {
            // Lead bytes in a run always have their trail byte.
            const std::size_t length = isLeadByte(static_cast<unsigned char>(run[k])) ? 2 : 1;
            if (convert(run.substr(k, length), out) != ERROR_SUCCESS) {
                out += kReplacement;
            }
            k += length;
        }
        return true;
    };
    bool ok = true;
    while (ok && i < bytes.size()) {
        const unsigned char b = byteAt(i);
        if (isUnmappedSingleByte(b) ||
            (isLeadByte(b) && (i + 1 == bytes.size() || !isTrailByte(byteAt(i + 1))))) {
            // A character that is U+FFFD by rule: the run before it goes first.
            ok = flushRun(i);
            out += kReplacement;
            runStart = ++i;
            continue;
        }
        i += isLeadByte(b) ? 2 : 1;
        if (i - runStart >= kRunBytes) {
            ok = flushRun(i);
            runStart = i;
        }
    }
    if (!ok || !flushRun(bytes.size())) {
        return Result<std::u16string>::failure("MultiByteToWideChar(932): " + ErrorText(failure));
    }
    return Result<std::u16string>::success(std::move(out));
}

}  // namespace varnel
