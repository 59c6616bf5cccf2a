// Prints what Windows itself reads from an executable's resources: the fixed and the English string
// version information and the number of icons, one "key=value" line each, in UTF-8. Used by
// scripts/test-windows-package.sh on the installed program, under Wine. Exit status 1 when the
// executable has no version information or cannot be read.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.pop_back();
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: version_info EXE\n", stderr);
        return 2;
    }
    const wchar_t* exe = argv[1];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
    if (size == 0) {
        std::fprintf(stderr, "no version information (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(exe, 0, size, block.data())) {
        std::fprintf(stderr, "version information unreadable (error %lu)\n", GetLastError());
        return 1;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        std::fputs("no fixed version information\n", stderr);
        return 1;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const unsigned parts[] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    std::printf("FixedFileVersion=%u.%u.%u.%u\n", parts[0], parts[1], parts[2], parts[3]);
    for (const wchar_t* key : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                               L"CompanyName", L"LegalCopyright", L"OriginalFilename"}) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
        if (VerQueryValueW(block.data(), path.c_str(), &value, &length) && length > 0)
            std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(static_cast<const wchar_t*>(value)).c_str());
    }
    std::printf("Icons=%u\n", ExtractIconExW(exe, -1, nullptr, nullptr, 0));
    return 0;
}
