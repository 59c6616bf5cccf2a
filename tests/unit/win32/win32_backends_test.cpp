// The Windows backends of files, command line and clock against the real system (under Wine in CI).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

TEST(Win32Files, ArgumentStringIsWhatFollowsTheProgramName) {
    struct Case {
        const wchar_t* line;
        const char* arguments;
    };
    const Case cases[] = {
        {L"varnel.exe", ""},
        {L"varnel.exe  memo.txt", "memo.txt"},
        {L"\"C:\\Program Files\\Varnel\\varnel.exe\" \"C:\\my memo.txt\"", "C:\\my memo.txt"},
        {L"varnel.exe \"a b\" \"c\"", "\"a b\" \"c\""},
        {L"varnel.exe \"\"", ""},
        {L"\"C:\\a b\\varnel.exe\"memo.txt", "memo.txt"},
        {L"varnel.exe\tmy  memo.txt ", "my  memo.txt "},
        {L"varnel.exe \u30E1\u30E2.txt", "\xE3\x83\xA1\xE3\x83\xA2.txt"},
        {L"varnel.exe \U0001F600\xD800.txt", "\xF0\x9F\x98\x80\xEF\xBF\xBD.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Win32Files(c.line).argumentString(), c.arguments);
    }
}

TEST(Win32Files, WildcardsFollowTheLinuxRulesWithoutCase) {
    struct Case {
        const wchar_t* pattern;
        const wchar_t* name;
        bool matches;
    };
    const Case cases[] = {
        {L"*.txt", L"memo.TXT", true},
        {L"*.txt", L"memo.txt1", false},
        {L"m?mo.txt", L"MEMO.txt", true},
        {L"[a-m]emo.txt", L"memo.txt", true},
        {L"[!m]emo.txt", L"memo.txt", false},
        {L"[^x]emo*", L"memo.txt", true},
        {L"[]x]y", L"]y", true},
        {L"[abc", L"[abc", true},
        {L"a*b*c", L"aXXbYbZc", true},
        {L"a*b", L"aXbY", false},
        {L"*", L".hidden", false},
        {L".*", L".hidden", true},
        {L"*", L"", true},
        {L"?", L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WildcardMatches(c.pattern, c.name), c.matches) << fs::path(c.pattern).string();
    }
}

class Win32FilesOnDisk : public testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("varnel-files-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "sub");
        fs::create_directories(root_ / "dir.txt");
        write(root_ / "memo.txt", std::string("[text01]\r\n\0x\x83\x5C", 14));
        write(root_ / "sub" / "a.txt", "a");
        write(root_ / L"\u30E1\u30E2.txt", "m");
        write(root_ / "hidden.txt", "h");
        ::SetFileAttributesW((root_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        write(root_ / "system.txt", "s");
        ::SetFileAttributesW((root_ / "system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    }
    void TearDown() override {
        ::SetFileAttributesW((root_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::SetFileAttributesW((root_ / "system.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string in(const std::string& relative) const { return root_.string() + "\\" + relative; }

    fs::path root_;
    Win32Files files{L"varnel.exe"};
};

TEST_F(Win32FilesOnDisk, CountsOnlyNormalFiles) {
    struct Case {
        std::string pattern;
        bool matches;
    };
    const Case cases[] = {
        {in("memo.txt"), true},
        {in("MEMO.TXT"), true},
        {in("*.txt"), true},
        {in("s*/*.TXT"), true},
        {in("sub\\a.txt"), true},
        {in("\xE3\x83\xA1*"), true},
        {in("hidden.txt"), false},
        {in("h*.txt"), false},
        {in("system.txt"), false},
        {in("dir.txt"), false},
        {in("d*"), false},
        {in("sub"), false},
        {in("nothing*"), false},
        {in("sub\\"), false},
        {"\"" + in("memo.txt") + "\"", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files.matchesNormalFile(c.pattern), c.matches) << c.pattern;
    }
}

TEST_F(Win32FilesOnDisk, ReadsEveryByteOrTellsWhy) {
    const auto memo = files.readBytes(in("memo.txt"));
    ASSERT_TRUE(memo.ok()) << memo.error();
    EXPECT_EQ(memo.value(), std::string("[text01]\r\n\0x\x83\x5C", 14));
    const auto named = files.readBytes(in("\xE3\x83\xA1\xE3\x83\xA2.txt"));
    ASSERT_TRUE(named.ok()) << named.error();
    EXPECT_EQ(named.value(), "m");
    const auto missing = files.readBytes(in("missing.txt"));
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("missing.txt"), std::string::npos);
    EXPECT_FALSE(files.readBytes(in("sub")).ok());
}

TEST(Win32Clock, MovesForwardWithRealTime) {
    const Win32Clock clock;
    const auto before = clock.now();
    ::Sleep(30);
    const auto after = clock.now();
    EXPECT_GE(after - before, std::chrono::milliseconds(25));
}

}  // namespace
}  // namespace varnel
