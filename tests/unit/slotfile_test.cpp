#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/Utf16.h"
#include "core/SlotFileStep.h"
#include "core/Startup.h"
#include "fakes/FakePlatform.h"
#include "slotfile/SlotFieldReader.h"
#include "slotfile/SlotFile.h"
#include "slotfile/SlotFileDecoding.h"
#include "support/DecodeSlotFile.h"
#include "support/NativeServices.h"

namespace varnel {
namespace {

std::vector<std::u16string> fieldsOf(std::u16string_view text) {
    std::vector<std::u16string> fields;
    SlotFieldReader reader(text);
    while (!reader.atEnd()) {
        fields.emplace_back(reader.readField());
    }
    return fields;
}

// The test texts are ASCII: their bytes are their characters.
std::string asciiBytes(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

TEST(SlotFieldReader, SplitsFieldsByTheDelimitedFieldRules) {
    struct Case {
        const char* what;
        std::u16string text;
        std::vector<std::u16string> fields;
    };
    const Case cases[] = {
        {"empty text", u"", {}},
        {"comma and line ends", u"a,b\r\nc", {u"a", u"b", u"c"}},
        {"spaces and tabs before a field", u"a,  b,\t\tc", {u"a", u"b", u"c"}},
        {"blanks at the end of an unquoted field", u"a  \t,b \r\n", {u"a", u"b"}},
        {"empty line and empty fields", u"a\r\n\r\n,,b", {u"a", u"", u"", u"", u"b"}},
        {"blank line", u"   \r\nx", {u"", u"x"}},
        {"comma before a line end", u"a,\r\nb", {u"a", u"", u"b"}},
        {"delimiter as last character", u"a,", {u"a"}},
        {"LF-only and CR-only line ends", u"a\nb\rc\r\rd", {u"a", u"b", u"c", u"", u"d"}},
        {"quoted commas kept", u"\"one, two\",three", {u"one, two", u"three"}},
        {"quoted blanks kept", u"\"  x  \"", {u"  x  "}},
        {"quoted line ends as CR LF", u"\"a\nb\r\nc\rd\"\r\ne", {u"a\r\nb\r\nc\r\nd", u"e"}},
        {"text after the closing quote", u"\"a,b\" c  ,d", {u"a,b c", u"d"}},
        {"blanks after the closing quote", u"\"a\"  \r\nb", {u"a", u"b"}},
        {"quote inside an unquoted field", u"say \"hi\", ok", {u"say \"hi\"", u"ok"}},
        {"missing closing quote", u"x,\"a,b\r\nc", {u"x", u"a,b\r\nc"}},
        {"lone quote", u"\"", {u""}},
        {"empty quoted field", u"\"\",a", {u"", u"a"}},
        {"NUL and non-ASCII kept", std::u16string(u"\u3042\0b", 3), {std::u16string(u"\u3042\0b", 3)}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fieldsOf(c.text), c.fields) << c.what;
    }
}

TEST(SlotHeaders, OnlyTheTenTwoDigitFormsInAnyCase) {
    EXPECT_EQ(SlotHeaderNumber(u"[text01]"), 1);
    EXPECT_EQ(SlotHeaderNumber(u"[TEXT02]"), 2);
    EXPECT_EQ(SlotHeaderNumber(u"[Text09]"), 9);
    EXPECT_EQ(SlotHeaderNumber(u"[tExT10]"), 10);
    for (const char16_t* not_header : {u"[text1]", u"[text00]", u"[text11]", u"[text99]", u"[text0a]",
                                       u"text01", u"[text01", u"[text01]x", u"[ｔｅｘｔ01]", u""}) {
        EXPECT_FALSE(SlotHeaderNumber(not_header).has_value());
    }
    EXPECT_TRUE(IsSlotEndMarker(u"[END]"));
    EXPECT_TRUE(IsSlotEndMarker(u"[End]"));
    EXPECT_FALSE(IsSlotEndMarker(u"[end"));
    EXPECT_FALSE(IsSlotEndMarker(u"end"));
}

TEST(LoadSlotBytes, FillsSlotsSectionBySection) {
    struct Case {
        const char* what;
        std::u16string text;
        std::map<int, std::u16string> slots;  // slots not listed stay empty
        std::map<int, std::u16string> before = {};
    };
    const Case cases[] = {
        {"example file",
         u"[text01]\r\nHello\r\nWorld\r\n[end]\r\nmemo\r\n[TEXT03]\r\none, two\r\n[end]\r\n",
         {{1, u"Hello\r\nWorld"}, {3, u"one\r\ntwo"}}},
        {"headers and end markers in any case", u"[Text02]\r\na\r\n[END]\r\nb", {{2, u"a"}}},
        {"quoted header", u"\"[text04]\"\r\nx\r\n\"[end]\"\r\ny", {{4, u"x"}}},
        {"quoted line stays one line", u"[text01]\r\n\"a, b\"\r\n[end]", {{1, u"a, b"}}},
        {"empty line in a section", u"[text01]\r\na\r\n\r\nb\r\n[end]", {{1, u"a\r\n\r\nb"}}},
        {"section of only [end]", u"[text01]\r\n[end]\r\n", {{1, u"kept"}}, {{1, u"kept"}}},
        {"text before and between sections",
         u"x\r\n[text01]\r\na\r\n[end]\r\ny,[end]\r\nz\r\n[text02]\r\nb",
         {{1, u"a"}, {2, u"b"}}},
        {"second section continues the last line",
         u"[text01]\r\na\r\nb\r\n[end]\r\n[text01]\r\nc\r\nd\r\n[end]",
         {{1, u"a\r\nbc\r\nd"}}},
        {"appends to the slot's text", u"[text01]\r\nb", {{1, u"ab"}}, {{1, u"a"}}},
        {"header inside a section is text", u"[text02]\r\n[text05]\r\nx\r\n[end]", {{2, u"[text05]\r\nx"}}},
        {"no header", u"a\r\nb\r\n[end]\r\n[text11]\r\nc", {}},
        {"empty file", u"", {}},
        {"missing [end] runs to the end", u"[text10]\r\na\r\nb\r\n", {{10, u"a\r\nb"}}},
        {"header as the last field", u"[text01]\r\n", {{1, u"kept"}}, {{1, u"kept"}}},
        {"header then a trailing comma", u"[text01],", {}},
        {"LF-only file", u"[text01]\na\nb\n[end]\n", {{1, u"a\r\nb"}}},
        {"empty field at the end of a section", u"[text01]\r\na\r\n\r\n", {{1, u"a\r\n"}}},
    };
    for (const auto& c : cases) {
        fake::World w;
        for (const auto& [slot, text] : c.before) {
            w.form.texts[slot - 1] = text;
        }
        ASSERT_TRUE(LoadSlotBytes(asciiBytes(c.text), w.codepage, w.form)) << c.what;
        for (int slot = 1; slot <= 10; ++slot) {
            const auto it = c.slots.find(slot);
            EXPECT_EQ(w.form.texts[slot - 1], it == c.slots.end() ? u"" : it->second)
                << c.what << ", slot " << slot;
        }
    }
}

TEST(LoadSlotBytes, WritesEachSlotOnceWhateverTheNumberOfSections) {
    std::string text;
    constexpr int sections = 200000;
    for (int i = 0; i < sections; ++i) {
        text += "[text01]\r\nx\r\n[end]\r\n";
    }
    fake::World w;
    ASSERT_TRUE(LoadSlotBytes(text, w.codepage, w.form));
    EXPECT_EQ(w.form.texts[0], std::u16string(sections, u'x'));
    EXPECT_EQ(w.log.count("slot.setText 1"), 1);
}

// The slots as loading the whole decoded text field by field gives them.
std::array<std::u16string, 10> loadDecodedText(std::string_view bytes, const Codepage& codepage) {
    std::array<std::u16string, 10> slots;
    const std::u16string text = DecodeSlotFile(bytes, codepage).value();
    SlotFieldReader reader(text);
    while (!reader.atEnd()) {
        if (const auto slot = SlotHeaderNumber(reader.readField())) {
            std::u16string_view separator;
            while (!reader.atEnd()) {
                const std::u16string_view field = reader.readField();
                if (IsSlotEndMarker(field)) {
                    break;
                }
                (slots[*slot - 1] += separator) += field;
                separator = u"\r\n";
            }
        }
    }
    return slots;
}

TEST(LoadSlotBytes, ReadsTheFieldsOfTheBytesAsOfTheDecodedText) {
    const std::string piece = std::string(700000, 'a') + "\r\n" + std::string(700000, 'b') + "\r\n";
    const std::string files[] = {
        // Code page 932: lead bytes cut off by delimiters, blanks and quotes; 0x5C and ',' as neighbours.
        "[text01]\r\n\x83\x5C,\x81,x\x81\r\n\x82 "
        "\r\n\"\x81\"\x82\xA0\r\n\xB1\xDF\r\n[end]\r\n[text02]\r\n\x81",
        // UTF-8 after a byte order mark, with ill-formed sequences cut off by delimiters.
        "\xEF\xBB\xBF[text03]\r\n\xE3\x81,\xE3\x81\x82\xF0\x9F\r\n\"a\nb\xE3\"c\r\n[end]\r\n[text03]"
        "\r\nz\xC3",
        // Well-formed UTF-8: quoted fields with lone line ends, runs of lines, a second section.
        "x\r\n[text04]\r\n\xE3\x81\x82\r\n\"q\nr\"\r\n  s  \r\nt\r\n[end]\r\n[text04]\r\nu\rv\n",
        // Sections far larger than the pieces decoded at a time.
        "[text05]\r\n" + piece + piece + "[end]\r\n[text06]\r\n\"" + piece + "\"\r\n",
    };
    const NativeCodepage codepage;
    for (const std::string& bytes : files) {
        fake::World w;
        std::string released(bytes);
        std::size_t releasedTo = 0;
        // Bytes released are overwritten: a read behind the released offset would show.
        ASSERT_TRUE(LoadSlotBytes(released, codepage, w.form, [&](std::size_t offset) {
            ASSERT_GE(offset, releasedTo);
            std::fill(released.begin(), released.begin() + static_cast<std::ptrdiff_t>(offset), '#');
            releasedTo = offset;
        }));
        const auto expected = loadDecodedText(bytes, codepage);
        for (int slot = 1; slot <= 10; ++slot) {
            EXPECT_EQ(w.form.texts[slot - 1], expected[slot - 1])
                << "slot " << slot << " of " << bytes.substr(0, 40);
        }
    }
}

TEST(DecodeSlotFile, UsesUtf8OnlyWhereItIsCertain) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"UTF-8 without BOM", "a\xE3\x81\x82\xF0\x9F\x98\x80", u"a\u3042\U0001F600"},
        {"UTF-8 with two-byte sequences and one longer",
         "\xC3\xBD\xE3\x82\xBD"
         "a",
         u"\u00FD\u30BDa"},
        {"half-width katakana that is also two-byte UTF-8", "\xC3\xBD\xB1", u"\uFF83\uFF7D\uFF71"},
        {"only two-byte UTF-8 sequences", "caf\xC3\xA9", u"caf\uFF83\uFF69"},
        {"two-byte UTF-8 after a BOM", "\xEF\xBB\xBF\xC3\xBD", u"\u00FD"},
        {"UTF-8 with BOM", "\xEF\xBB\xBF[text01]\r\n\xE3\x82\xBD", u"[text01]\r\n\u30BD"},
        {"BOM only", "\xEF\xBB\xBF", u""},
        {"NUL bytes", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"CP932 with 0x5C as trail byte", "\x83\x5C\x95\x5C,\\", u"\u30BD\u8868,\\"},
        {"CP932 extensions", "\x87\x40\xFB\xFC\xED\x40", u"\u2460\u9AD9\u7E8A"},
        {"invalid bytes in CP932",
         "a\x80\xFF"
         "b\x82",
         u"a\uFFFD\uFFFDb\uFFFD"},
        {"overlong UTF-8 is not UTF-8", "\xC0\xAF", u"\uFF80\uFF6F"},
        {"surrogate in UTF-8 is not UTF-8", "\xED\xA0\x80", u"\u605D\uFFFD"},
        // After a BOM the text stays UTF-8: each maximal ill-formed part is one U+FFFD.
        {"BOM with ill-formed sequences",
         "\xEF\xBB\xBF"
         "a\xE3\x81"
         "b\xC0\xAF\xF4\x90\x80\x80"
         "c\xE3",
         u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDc\uFFFD"},
    };
    NativeCodepage codepage;
    for (const auto& c : cases) {
        const auto text = DecodeSlotFile(c.bytes, codepage);
        ASSERT_TRUE(text.ok()) << c.what;
        EXPECT_EQ(text.value(), c.text) << c.what;
    }
}

TEST(DecodeUtf8, LongTextKeepsEveryCharacterWhateverItsOffset) {
    // Characters of one to four bytes land on every offset of the decoder's internal buffering.
    std::string bytes;
    std::u16string expected;
    for (int i = 0; i < 20000; ++i) {
        bytes += std::string(static_cast<std::size_t>(i % 11), 'a') + "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80";
        expected += std::u16string(static_cast<std::size_t>(i % 11), u'a') + u"\u00E9\u3042\U0001F600";
    }
    for (Utf8Errors errors : {Utf8Errors::Stop, Utf8Errors::Replace}) {
        std::u16string text;
        ASSERT_TRUE(DecodeUtf8(bytes, text, errors));
        EXPECT_EQ(text, expected);
    }
    std::u16string text;
    EXPECT_FALSE(DecodeUtf8(bytes + "\xE3\x81", text, Utf8Errors::Stop));
    ASSERT_TRUE(DecodeUtf8(bytes + "\xE3\x81", text, Utf8Errors::Replace));
    EXPECT_EQ(text, expected + u"\uFFFD");
    // Encoding gives the same bytes back; a surrogate without its partner becomes U+FFFD.
    EXPECT_EQ(EncodeUtf8(expected), bytes);
    EXPECT_EQ(EncodeUtf8(std::u16string{u'a', 0xD800, u'b', 0xDC00}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(Utf16, PairsJoinAndSplitAndUnpairedHalvesStandAlone) {
    struct Case {
        std::u16string text;
        std::size_t at;
        char32_t cp;
        std::size_t units;
    };
    const Case cases[] = {
        {u"\U00010000", 0, 0x10000, 2},
        {u"a\U0010FFFF", 1, 0x10FFFF, 2},  // the last code point, as a pair at the end
        {u"\uFFFF", 0, 0xFFFF, 1},
        {{u'x', 0xDBFF}, 1, 0xDBFF, 1},  // a high half at the end
        {{0xD800, u'x'}, 0, 0xD800, 1},
        {{0xDFFF, 0xD800}, 0, 0xDFFF, 1},  // a low half first
        {{0xD800, 0xD800, 0xDC00}, 0, 0xD800, 1},
        {{0xD800, 0xD800, 0xDC00}, 1, 0x10000, 2},
    };
    for (const Case& c : cases) {
        const CodePointAt at = DecodeUtf16At(c.text, c.at);
        const auto which = static_cast<unsigned>(c.cp);
        EXPECT_EQ(at.cp, c.cp) << std::hex << which;
        EXPECT_EQ(at.units, c.units) << std::hex << which;
        std::u16string back = u"<";  // appending keeps what is there
        AppendUtf16(back, at.cp);
        EXPECT_EQ(back, u"<" + c.text.substr(c.at, c.units)) << std::hex << which;
    }
    EXPECT_TRUE(IsValidUtf16(u"") && IsValidUtf16(u"a\U0010FFFF\uFFFF\U00010000"));
    for (const std::u16string& broken :
         {std::u16string{0xD800}, std::u16string{u'a', 0xDC00}, std::u16string{0xDC00, 0xD800},
          std::u16string{0xD800, 0xD800, 0xDC00}}) {
        EXPECT_FALSE(IsValidUtf16(broken));
    }
}

TEST(SlotFileStartupStep, LoadsANamedNormalFileWithCaptureOff) {
    const std::string cp932File = "[text01]\r\n\x83\x5C\r\n[end]\r\n";
    struct Case {
        const char* what;
        std::string argument;
        bool hidden = false;
        const char* failing = nullptr;  // a call of the fakes that fails
        std::int16_t capture = 0;
        std::u16string slot1 = u"";
        bool loaded = true;
    };
    const Case cases[] = {
        {"no argument", "", false, nullptr, 1, u"", false},
        {"no such file", "missing.txt", false, nullptr, 1, u"", false},
        {"hidden file", "memo.txt", true, nullptr, 1, u"", false},
        {"empty file", "empty.txt", false, nullptr, 0, u"", true},
        {"slot file", "memo.txt", false, nullptr, 0, u"\uFFFD\\", true},  // the fake decodes ASCII only
        {"unreadable file", "memo.txt", false, "files.read memo.txt", 0, u"", true},
        {"no code page converter", "memo.txt", false, "codepage.decode", 0, u"", true},
    };
    for (const auto& c : cases) {
        fake::World w;
        w.files.arguments = c.argument;
        w.files.contents = {{"memo.txt", cp932File}, {"empty.txt", ""}};
        if (c.hidden) {
            w.files.hidden.insert(c.argument);
        }
        if (c.failing) {
            w.log.failAlways(c.failing);
        }
        w.startValues();
        const Status step = SlotFileStartupStep(w.ctx);
        EXPECT_EQ(step.ok(), c.failing == nullptr) << c.what;  // a file found but not loaded is told
        EXPECT_EQ(w.state.CaptureEnabled, c.capture) << c.what;
        EXPECT_EQ(w.form.texts[0], c.slot1) << c.what;
        ASSERT_GE(w.log.calls.size(), 2u) << c.what;
        EXPECT_EQ(w.log.calls[0], "files.argumentString") << c.what;
        EXPECT_EQ(w.log.calls[1], "files.match " + c.argument) << c.what;
        EXPECT_EQ(w.log.count("files.read " + c.argument), c.loaded ? 1 : 0) << c.what;
    }
}

TEST(LoadSlotFile, ReadsALargeFileWhileItsPagesAreGivenBack) {
    const std::string path = ::testing::TempDir() + "varnel-large-slot-file.txt";
    std::string bytes = "[text02]\r\n";
    std::u16string expected;
    for (int i = 0; i < 1000000; ++i) {
        const std::string number = std::to_string(i);
        bytes += "line " + number + ", \x83\x5C\r\n";
        expected += u"line " + std::u16string(number.begin(), number.end()) + u"\r\n\u30BD\r\n";
    }
    expected.resize(expected.size() - 2);
    bytes += "[end]\r\n[text03]\r\nlast";
    { std::ofstream(path, std::ios::binary) << bytes; }
    const NativeFiles files;
    fake::World w;
    ASSERT_TRUE(LoadSlotFile(path, files, NativeCodepage(), w.form));
    EXPECT_TRUE(w.form.texts[1] == expected);
    EXPECT_EQ(w.form.texts[2], u"last");

    // The bytes not yet given back stay in place.
    const auto content = files.readContent(path);
    ASSERT_TRUE(content);
    content.value()->releaseBefore(bytes.size() / 2);
    EXPECT_EQ(content.value()->bytes().substr(bytes.size() / 2),
              std::string_view(bytes).substr(bytes.size() / 2));
    std::remove(path.c_str());
    EXPECT_FALSE(files.readContent(path));
}

TEST(SlotFileStartupStep, LeavesNoSlotColouredAfterLoading) {
    fake::World w;
    w.files.arguments = "my memo.txt";
    w.files.contents = {{"my memo.txt", "[text01]\r\nHi\r\n"}};
    EXPECT_TRUE(LoadMainWindow(w.ctx).ok());
    EXPECT_FALSE(w.state.CaptureEnabled);
    EXPECT_EQ(w.form.texts[0], u"Hi");
    EXPECT_EQ(w.log.count("slot.background 1 capture"), 0);
}

}  // namespace
}  // namespace varnel
