#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/NativeServices.h"

namespace varnel {
namespace {

TEST(NativeCodepage, DecodesCodePage932AndReplacesWhatIsNotACharacter) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"empty", "", u""},
        {"ASCII, backslash and tilde", "a\\~", u"a\\~"},
        {"0x5C as trail byte", "\x83\x5C\x95\x5C\x8B\x5C", u"\u30BD\u8868\u6B3A"},
        {"hiragana and half-width katakana", "\x82\xA0\xB1\xDF", u"\u3042\uFF71\uFF9F"},
        {"NEC special characters", "\x87\x40\x87\x54\x87\x82", u"\u2460\u2160\u2116"},
        {"IBM extensions", "\xFA\x40\xFB\xFC\xED\x40", u"\u2170\u9AD9\u7E8A"},
        {"user-defined area", "\xF0\x40", u"\uE000"},
        {"NUL byte", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"bytes that start no character",
         "\x80"
         "a\xA0\xFD\xFE\xFF",
         u"\uFFFDa\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"unassigned pair is one character", "\x85\x40z\x85\x5C", u"\uFFFDz\uFFFD"},
        {"lead byte with an invalid trail", "\x81\x7F\x81\x20", u"\uFFFD\x7F\uFFFD "},
        {"truncated lead byte at the end", "ab\x82", u"ab\uFFFD"},
    };
    const NativeCodepage codepage;
    for (const auto& c : cases) {
        const auto text = codepage.decodeCp932(c.bytes);
        ASSERT_TRUE(text.ok()) << c.what << ": " << text.error();
        EXPECT_EQ(text.value(), c.text) << c.what;
    }
}

TEST(NativeCodepage, DecodesLongInputFromSeveralThreads) {
    std::string bytes;
    std::u16string expected;
    // Long stretches of valid text, with characters that are no characters now and then.
    for (int i = 0; i < 50000; ++i) {
        bytes +=
            "\x83\x5C"
            "a";
        expected += u"\u30BDa";
        if (i % 7000 == 6999) {
            bytes += i % 14000 == 6999 ? "\x80" : "\x85\x40";
            expected += u'\uFFFD';
        }
    }
    const NativeCodepage codepage;
    std::vector<std::thread> threads;
    std::vector<int> same(4, 0);
    for (std::size_t t = 0; t < same.size(); ++t) {
        threads.emplace_back([&, t] {
            const auto text = codepage.decodeCp932(bytes);
            same[t] = text.ok() && text.value() == expected ? 1 : 0;
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(same, std::vector<int>(same.size(), 1));
}

}  // namespace
}  // namespace varnel
