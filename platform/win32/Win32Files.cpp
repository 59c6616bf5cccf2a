#include "platform/win32/Win32Files.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/win32/Win32Support.h"

namespace varnel {

namespace {

std::string ArgumentsOf(std::wstring_view line) {
    // The program name runs to the closing quote when it starts with one, otherwise to the first blank.
    std::size_t i = 0;
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
            ++i;
        }
    }
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) {
        ++i;
    }
    std::wstring_view arguments = line.substr(i);
    // Explorer, shortcuts and "Open with" quote every path they pass, and no Windows file name can
    // hold a double quote: one pair around the whole string is taken off. Anything else stays as typed.
    if (arguments.size() >= 2 && arguments.front() == L'"' && arguments.back() == L'"' &&
        arguments.find(L'"', 1) == arguments.size() - 1) {
        arguments = arguments.substr(1, arguments.size() - 2);
    }
    return Utf8FromWide(arguments);
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}
bool HasWildcard(std::wstring_view component) {
    return component.find_first_of(L"*?[") != std::wstring_view::npos;
}
bool IsNormalFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

wchar_t Folded(wchar_t c) {
    ::CharUpperBuffW(&c, 1);
    return c;
}

// The set that starts at pattern[0] == '['. Returns whether c is in it and the length of the set, or
// nothing when the set has no closing bracket (the bracket is then an ordinary character).
std::optional<std::pair<bool, std::size_t>> MatchSet(std::wstring_view pattern, wchar_t c) {
    std::size_t i = 1;
    const bool negated = i < pattern.size() && (pattern[i] == L'!' || pattern[i] == L'^');
    if (negated) {
        ++i;
    }
    bool found = false;
    bool first = true;
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == L']' && !first) {
            return std::pair{found != negated, i + 1};
        }
        first = false;
        wchar_t low = Folded(pattern[i]);
        wchar_t high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == L'-' && pattern[i + 2] != L']') {
            high = Folded(pattern[i + 2]);
            i += 2;
        }
        found = found || (c >= low && c <= high);
    }
    return std::nullopt;
}

using FindHandle = std::unique_ptr<void, decltype(&::FindClose)>;

// Whether the components [index, end) of the pattern, below the directory prefix, reach a normal file.
bool Walk(const std::wstring& prefix, const std::vector<std::wstring>& components, std::size_t index) {
    const std::wstring& component = components[index];
    const bool last = index + 1 == components.size();
    if (!HasWildcard(component)) {
        const std::wstring path = prefix + component;
        return last ? IsNormalFile(::GetFileAttributesW(path.c_str()))
                    : Walk(path + L'\\', components, index + 1);
    }
    WIN32_FIND_DATAW entry{};
    const std::wstring search = prefix + L'*';
    FindHandle find(::FindFirstFileExW(search.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH),
                    &::FindClose);
    if (find.get() == INVALID_HANDLE_VALUE) {
        find.release();
        return false;
    }
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L".." || !WildcardMatches(component, name)) {
            continue;
        }
        if (last ? IsNormalFile(entry.dwFileAttributes)
                 : (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                       Walk(prefix + std::wstring(name) + L'\\', components, index + 1)) {
            return true;
        }
    } while (::FindNextFileW(find.get(), &entry));
    return false;
}

}  // namespace

bool WildcardMatches(std::wstring_view pattern, std::wstring_view name) {
    if (!name.empty() && name[0] == L'.' && (pattern.empty() || pattern[0] != L'.')) {
        return false;
    }
    // Greedy matching with one point to return to: the last star and the name position it stands for.
    std::size_t p = 0;
    std::size_t n = 0;
    std::optional<std::pair<std::size_t, std::size_t>> star;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = std::pair{++p, n};
            continue;
        }
        if (p < pattern.size()) {
            const wchar_t c = Folded(name[n]);
            std::size_t step = 0;
            if (pattern[p] == L'?') {
                step = 1;
            } else if (pattern[p] == L'[') {
                if (const auto set = MatchSet(pattern.substr(p), c)) {
                    step = set->first ? set->second : 0;
                } else {
                    step = c == L'[' ? 1 : 0;
                }
            } else if (Folded(pattern[p]) == c) {
                step = 1;
            }
            if (step > 0) {
                p += step;
                ++n;
                continue;
            }
        }
        if (!star) {
            return false;
        }
        p = star->first;
        n = ++star->second;
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

Win32Files::Win32Files() : Win32Files(::GetCommandLineW()) {}

Win32Files::Win32Files(std::wstring_view commandLine) : arguments_(ArgumentsOf(commandLine)) {}

std::string Win32Files::argumentString() const {
    return arguments_;
}

bool Win32Files::matchesNormalFile(const std::string& pattern) const {
    const std::wstring wide = WideFromUtf8(pattern);
    if (wide.empty() || IsSeparator(wide.back())) {
        return false;  // nothing, or only directories
    }
    if (!HasWildcard(wide)) {
        return IsNormalFile(::GetFileAttributesW(wide.c_str()));
    }
    // The part before the first component with a wildcard is taken as typed (drive, UNC share, folders).
    std::size_t first = wide.find_first_of(L"*?[");
    while (first > 0 && !IsSeparator(wide[first - 1]) && wide[first - 1] != L':') {
        --first;
    }
    std::vector<std::wstring> components;
    for (std::size_t i = first; i < wide.size();) {
        const std::size_t end = std::min(wide.find_first_of(L"\\/", i), wide.size());
        if (end > i) {
            components.emplace_back(wide.substr(i, end - i));
        }
        i = end + 1;
    }
    return Walk(wide.substr(0, first), components, 0);
}

Result<std::string> Win32Files::readBytes(const std::string& path) const {
    const std::wstring wide = WideFromUtf8(path);
    using FileHandle = std::unique_ptr<void, decltype(&::CloseHandle)>;
    FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                    &::CloseHandle);
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return Result<std::string>::failure(path + ": " + LastErrorText());
    }
    // A pipe or a device named where a file is expected could keep the read waiting for ever.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return Result<std::string>::failure(path + ": not a regular file");
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        return Result<std::string>::failure(path + ": " + LastErrorText());
    }
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > MaxFileBytes) {
        return Result<std::string>::failure(path + ": larger than the slot file limit");
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read,
                        nullptr)) {
            return Result<std::string>::failure(path + ": " + LastErrorText());
        }
        if (read == 0) {
            break;  // the file became shorter while it was read
        }
        done += read;
    }
    bytes.resize(done);
    return Result<std::string>::success(std::move(bytes));
}

}  // namespace varnel
