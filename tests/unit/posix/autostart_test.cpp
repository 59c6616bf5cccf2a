#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/Autostart.h"

namespace varnel {
namespace {

TEST(Autostart, EntryPathFollowsTheXdgConfigDirectory) {
    EXPECT_EQ(AutostartEntryPath("/cfg", "/home/u").value(), "/cfg/autostart/varnel.desktop");
    EXPECT_EQ(AutostartEntryPath("", "/home/u").value(), "/home/u/.config/autostart/varnel.desktop");
    EXPECT_EQ(AutostartEntryPath("relative", "/home/u").value(), "/home/u/.config/autostart/varnel.desktop");
    EXPECT_FALSE(AutostartEntryPath(nullptr, nullptr).ok());
    EXPECT_FALSE(AutostartEntryPath(nullptr, "").ok());
}

TEST(Autostart, ExecValueQuotesWhatTheLauncherWouldSplitOrExpand) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/varnel"), "/usr/bin/varnel");
    EXPECT_EQ(DesktopExecValue("/opt/my apps/varnel"), "\"/opt/my apps/varnel\"");
    EXPECT_EQ(DesktopExecValue("/a$b/100%/c\\d\"e"), R"("/a\\$b/100%%/c\\\\d\\"e")");
}

TEST(Autostart, SwitchesOnAndOffAndReportsFailures) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("varnel-autostart-" + std::to_string(::getpid()));
    const std::string entry = (dir / "config/autostart/varnel.desktop").string();
    EXPECT_FALSE(AutostartEnabled(entry));
    EXPECT_TRUE(DisableAutostart(entry, "/usr/bin/varnel").ok());  // nothing to remove
    ASSERT_TRUE(EnableAutostart(entry, "/usr/bin/varnel").ok());
    EXPECT_TRUE(AutostartEnabled(entry));
    std::stringstream written;
    written << std::ifstream(entry).rdbuf();
    EXPECT_NE(written.str().find("\nExec=/usr/bin/varnel\n"), std::string::npos);
    ASSERT_TRUE(EnableAutostart(entry, "/usr/bin/varnel").ok());  // again: replaced, still on
    EXPECT_TRUE(DisableAutostart(entry, "/usr/bin/varnel").ok());
    EXPECT_FALSE(AutostartEnabled(entry));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "config/autostart"), {}), 0);

    std::ofstream(entry) << "[Desktop Entry]\nHidden=true\n";
    EXPECT_FALSE(AutostartEnabled(entry));
    std::filesystem::remove(entry);

    // A file where the directory should be.
    std::ofstream(dir / "blocked") << "x";
    const auto blocked =
        EnableAutostart((dir / "blocked/autostart/varnel.desktop").string(), "/usr/bin/varnel");
    EXPECT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.error().empty());
    std::filesystem::remove_all(dir);
}

std::string ContentOf(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(Autostart, LeavesTheUsersOwnEntryAloneAndReplacesOnlyOurs) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("varnel-autostart-own-" + std::to_string(::getpid()));
    const auto folder = dir / "autostart";
    std::filesystem::create_directories(folder);
    const std::string entry = (folder / "varnel.desktop").string();
    const std::string users = "[Desktop Entry]\nType=Application\nExec=/usr/bin/varnel /home/u/memo.txt\n";

    // A symbolic link to the user's own file, and the user's own plain file: neither is touched.
    std::ofstream(dir / "mine.desktop") << users;
    std::filesystem::create_symlink(dir / "mine.desktop", entry);
    for (int pass = 0; pass < 2; ++pass) {
        const auto on = EnableAutostart(entry, "/usr/bin/varnel");
        ASSERT_TRUE(on.ok());
        EXPECT_EQ(on.value(), AutostartChange::LeftUsersEntry);
        const auto off = DisableAutostart(entry, "/usr/bin/varnel");
        ASSERT_TRUE(off.ok());
        EXPECT_EQ(off.value(), AutostartChange::LeftUsersEntry);
        EXPECT_EQ(std::filesystem::is_symlink(entry), pass == 0);
        EXPECT_EQ(ContentOf(entry), users);
        EXPECT_EQ(ContentOf(dir / "mine.desktop"), users);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
        std::filesystem::remove(entry);
        std::ofstream(entry) << users;
    }

    // What an earlier version wrote, without the marker, is ours: replaced, then removed.
    std::filesystem::remove(entry);
    ASSERT_TRUE(EnableAutostart(entry, "/usr/bin/varnel").ok());
    std::string earlier = ContentOf(entry);
    earlier.erase(earlier.find(AutostartMarker));
    std::ofstream(entry) << earlier;
    EXPECT_EQ(EnableAutostart(entry, "/usr/bin/varnel").value(), AutostartChange::Done);
    EXPECT_NE(ContentOf(entry).find(AutostartMarker), std::string::npos);
    EXPECT_EQ(DisableAutostart(entry, "/opt/varnel").value(), AutostartChange::Done);  // marked: any path
    EXPECT_FALSE(std::filesystem::exists(entry));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnel
