#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/CommandLine.h"
#include "fakes/FakePlatform.h"
#include "platform/posix/Autostart.h"

namespace varnel {
namespace {

CommandLineRequest Read(const std::string& words, bool fileExists = false) {
    fake::World w;
    w.files.arguments = words;
    if (fileExists) {
        w.files.contents[words] = "";
    }
    return ReadCommandLine(w.files);
}

TEST(CommandLine, OptionWordsAreOptionsOnlyWhileNoSuchFileExists) {
    EXPECT_EQ(Read(""), CommandLineRequest::Run);
    EXPECT_EQ(Read("memo.txt"), CommandLineRequest::Run);
    EXPECT_EQ(Read("--help"), CommandLineRequest::Help);
    EXPECT_EQ(Read("--version"), CommandLineRequest::Version);
    EXPECT_EQ(Read("--autostart"), CommandLineRequest::AutostartStatus);
    EXPECT_EQ(Read("--autostart on"), CommandLineRequest::AutostartOn);
    EXPECT_EQ(Read("--autostart off"), CommandLineRequest::AutostartOff);
    EXPECT_EQ(Read("--autostart maybe"), CommandLineRequest::AutostartInvalid);
    // Near misses are slot-file paths as always.
    EXPECT_EQ(Read("--help me"), CommandLineRequest::Run);
    EXPECT_EQ(Read("-h"), CommandLineRequest::Run);
    EXPECT_EQ(Read("--HELP"), CommandLineRequest::Run);
    for (const char* words : {"--help", "--version", "--autostart", "--autostart on", "--autostart maybe"}) {
        EXPECT_EQ(Read(words, true), CommandLineRequest::Run) << words;
    }
}

TEST(CommandLine, AnOrdinaryStartMakesNoFileSearch) {
    fake::World w;
    w.files.arguments = "memo.txt";
    ReadCommandLine(w.files);
    EXPECT_EQ(w.log.calls, std::vector<std::string>{"files.argumentString"});
}

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
