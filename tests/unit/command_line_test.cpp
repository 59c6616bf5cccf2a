#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "fakes/FakePlatform.h"

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
    EXPECT_EQ(Read("--gnome-extension install"), CommandLineRequest::GnomeExtensionInstall);
    EXPECT_EQ(Read("--gnome-extension remove"), CommandLineRequest::GnomeExtensionRemove);
    EXPECT_EQ(Read("--gnome-extension"), CommandLineRequest::GnomeExtensionInvalid);
    EXPECT_EQ(Read("--gnome-extension enable"), CommandLineRequest::GnomeExtensionInvalid);
    // Near misses are slot-file paths as always.
    EXPECT_EQ(Read("--help me"), CommandLineRequest::Run);
    EXPECT_EQ(Read("-h"), CommandLineRequest::Run);
    EXPECT_EQ(Read("--HELP"), CommandLineRequest::Run);
    for (const char* words : {"--help", "--version", "--autostart", "--autostart on", "--autostart maybe",
                              "--gnome-extension install"}) {
        EXPECT_EQ(Read(words, true), CommandLineRequest::Run) << words;
    }
}

TEST(CommandLine, AnOrdinaryStartMakesNoFileSearch) {
    fake::World w;
    w.files.arguments = "memo.txt";
    ReadCommandLine(w.files);
    EXPECT_EQ(w.log.calls, std::vector<std::string>{"files.argumentString"});
}

}  // namespace
}  // namespace varnel
