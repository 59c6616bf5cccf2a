#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gnome/ExtensionInstall.h"
#include "platform/gnome/GnomeShell.h"

namespace varnel::gnome {
namespace {

TEST(GnomeCommitSlices, LineBreaksBecomeLineFeedsAndPairsStayWhole) {
    using Slices = std::vector<std::u16string>;
    EXPECT_EQ(CommitSlices(u"a\r\nb\rc\nd\te", 64), Slices{u"a\nb\nc\nd\te"});
    EXPECT_EQ(CommitSlices(std::u16string(u"x\0y", 3), 64), Slices{u"xy"});
    EXPECT_EQ(CommitSlices(u"", 64), Slices{});
    // 𠮷 is a surrogate pair: a slice ends before it rather than between its halves.
    EXPECT_EQ(CommitSlices(u"ab𠮷c", 3), (Slices{u"ab", u"𠮷c"}));
    EXPECT_EQ(CommitSlices(u"abcdefg", 3), (Slices{u"abc", u"def", u"g"}));
}

TEST(GnomeExtensionInstall, TheFormFollowsTheShellVersion) {
    EXPECT_EQ(FormForShellVersion("GNOME Shell 43.9\n"), ExtensionForm::Script);
    EXPECT_EQ(FormForShellVersion("GNOME Shell 44.beta"), ExtensionForm::Script);
    EXPECT_EQ(FormForShellVersion("GNOME Shell 45.0"), ExtensionForm::Module);
    EXPECT_EQ(FormForShellVersion("GNOME Shell 100.1"), ExtensionForm::Module);
    EXPECT_EQ(FormForShellVersion(""), ExtensionForm::Module);
    EXPECT_EQ(FormForShellVersion("GNOME Shell "), ExtensionForm::Module);
}

TEST(GnomeExtensionInstall, WritesAndRemovesTheFormUnderTheUsersDataFolder) {
    EXPECT_EQ(UserExtensionFolder("/d", "/h").valueOr(""),
              std::string("/d/gnome-shell/extensions/") + ExtensionUuid());
    EXPECT_EQ(UserExtensionFolder(nullptr, "/h").valueOr(""),
              std::string("/h/.local/share/gnome-shell/extensions/") + ExtensionUuid());
    EXPECT_EQ(UserExtensionFolder("relative", "/h").valueOr(""),
              std::string("/h/.local/share/gnome-shell/extensions/") + ExtensionUuid());
    EXPECT_FALSE(UserExtensionFolder(nullptr, nullptr));

    const std::filesystem::path root = "/tmp/varnel-gnome-install." + std::to_string(getpid());
    const std::string folder = UserExtensionFolder(root.c_str(), nullptr).valueOr("");
    auto read = [&](const char* name) {
        std::ifstream in(std::filesystem::path(folder) / name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    ASSERT_TRUE(InstallExtension(folder, ExtensionForm::Module));
    EXPECT_NE(read("extension.js").find("export default class"), std::string::npos);
    EXPECT_NE(read("metadata.json").find("\"45\""), std::string::npos);
    // Installing again replaces the other form completely.
    ASSERT_TRUE(InstallExtension(folder, ExtensionForm::Script));
    EXPECT_EQ(read("extension.js").find("export "), std::string::npos);
    EXPECT_NE(read("extension.js").find("function init()"), std::string::npos);
    EXPECT_NE(read("metadata.json").find(std::string("\"uuid\": \"") + ExtensionUuid() + "\""),
              std::string::npos);
    EXPECT_EQ(read("metadata.json").find("\"45\""), std::string::npos);
    ASSERT_TRUE(RemoveExtension(folder));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(RemoveExtension(folder));
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace varnel::gnome
