// Which characters a keyboard layout types and which are pasted, on real layouts compiled by
// xkbcommon from the system's keyboard descriptions (no compositor needed).
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <string>

#include "platform/wayland/LayoutKeys.h"

namespace varnel::wayland {
namespace {

constexpr std::uint32_t Key1 = 2, KeyQ = 16, KeyA = 30, KeyTab = 15, KeyEnter = 28;

struct Keymap {
    explicit Keymap(const char* layouts) {
        context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names{"evdev", "pc105", layouts, "", ""};
        keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    ~Keymap() {
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
    LayoutKeys layout(std::uint32_t index) const { return LayoutKeys::fromKeymap(keymap, index); }
    xkb_context* context;
    xkb_keymap* keymap;
};

std::u16string Joined(const std::vector<TypingRun>& runs) {
    std::u16string text;
    for (const auto& run : runs) {
        text += run.text;
    }
    return text;
}

TEST(LayoutKeys, TypesWhatTheLayoutHasWithShiftAndTheThirdLevel) {
    const Keymap us("us");
    ASSERT_NE(us.keymap, nullptr);
    const auto runs = PlanTyping(u"aA\t\r\n", us.layout(0));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].paste);
    EXPECT_EQ(runs[0].keys, (std::vector<KeyStroke>{{KeyA, false, false},
                                                    {KeyA, true, false},
                                                    {KeyTab, false, false},
                                                    {KeyEnter, false, false},
                                                    {KeyEnter, false, false}}));

    const Keymap de("de");
    ASSERT_NE(de.keymap, nullptr);
    const LayoutKeys german = de.layout(0);
    EXPECT_NE(german.levelThreeCode(), 0u);
    const auto at = PlanTyping(u"@€", german);  // € by its Unicode keysym, the layout's EuroSign
    ASSERT_EQ(at.size(), 1u);
    ASSERT_EQ(at[0].keys.size(), 2u);
    EXPECT_EQ(at[0].keys[0], (KeyStroke{KeyQ, false, true}));
}

TEST(LayoutKeys, PastesRunsTheLayoutCannotTypeAndKeepsEveryCharacterInOrder) {
    const Keymap jp("jp");
    ASSERT_NE(jp.keymap, nullptr);
    const std::u16string text = u"ab 日本語かな😀x\\¥";
    const auto runs = PlanTyping(text, jp.layout(0));
    EXPECT_EQ(Joined(runs), text);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].text, u"ab ");
    EXPECT_TRUE(runs[1].paste);
    EXPECT_EQ(runs[1].text, u"日本語かな😀");  // the surrogate pair whole
    EXPECT_EQ(runs[2].text, u"x\\");
    EXPECT_EQ(runs[2].keys.size(), 2u);
    EXPECT_TRUE(runs[3].paste);  // the yen key types a backslash
    EXPECT_EQ(runs[3].text, u"¥");
}

TEST(LayoutKeys, UsesTheLayoutAndTheLocksInUse) {
    const Keymap both("us,ru");
    ASSERT_NE(both.keymap, nullptr);
    EXPECT_TRUE(PlanTyping(u"д", both.layout(0))[0].paste);
    const auto russian = PlanTyping(u"д", both.layout(1));
    ASSERT_FALSE(russian[0].paste);
    EXPECT_EQ(russian[0].keys.size(), 1u);

    // With Caps Lock on, a capital is the bare key and a small letter needs Shift.
    const std::uint32_t capsLock = 1u << xkb_keymap_mod_get_index(both.keymap, XKB_MOD_NAME_CAPS);
    const auto capitals = PlanTyping(u"aA1", LayoutKeys::fromKeymap(both.keymap, 0, capsLock));
    ASSERT_EQ(capitals.size(), 1u);
    EXPECT_EQ(capitals[0].keys,
              (std::vector<KeyStroke>{{KeyA, true, false}, {KeyA, false, false}, {Key1, false, false}}));
}

}  // namespace
}  // namespace varnel::wayland
