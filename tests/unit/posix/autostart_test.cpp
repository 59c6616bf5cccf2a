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
    EXPECT_TRUE(DisableAutostart(entry).ok());  // nothing to remove
    ASSERT_TRUE(EnableAutostart(entry, "/usr/bin/varnel").ok());
    EXPECT_TRUE(AutostartEnabled(entry));
    std::stringstream written;
    written << std::ifstream(entry).rdbuf();
    EXPECT_NE(written.str().find("\nExec=/usr/bin/varnel\n"), std::string::npos);
    ASSERT_TRUE(EnableAutostart(entry, "/usr/bin/varnel").ok());  // again: replaced, still on
    EXPECT_TRUE(DisableAutostart(entry).ok());
    EXPECT_FALSE(AutostartEnabled(entry));
    EXPECT_FALSE(std::filesystem::exists(entry + ".new"));

    std::ofstream(entry) << "[Desktop Entry]\nHidden=true\n";
    EXPECT_FALSE(AutostartEnabled(entry));

    // A file where the directory should be.
    std::ofstream(dir / "blocked") << "x";
    const Status blocked =
        EnableAutostart((dir / "blocked/autostart/varnel.desktop").string(), "/usr/bin/varnel");
    EXPECT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.error().empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnel
