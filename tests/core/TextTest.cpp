#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/config/Config.h"
#include "core/text/BlacklistFilter.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

std::string repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TEST(BlacklistFilter, Cases) {
    struct Case {
        const char* name;
        std::string input;
        std::string expected;
    };
    const std::string credit = "字幕组";  // 3 characters
    // A family emoji (7 code points) counts as one character, like a letter with its marks.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    const std::vector<Case> cases = {
        {"only white space", " \t\r\n\u3000\u2028\u0085\u00A0 ", ""},
        {"a phrase and a line break", "谢谢观看\n", ""},
        {"Latin phrase in mixed case", "Amara.Org", ""},
        {"phrase in the middle", "今天天气字幕由某某提供很好", ""},
        {"29 characters with a phrase", repeat("好", 26) + credit, ""},
        {"30 characters with a phrase", repeat("好", 27) + credit, repeat("好", 27) + credit},
        {"outer blanks of a long text", "  " + repeat("word ", 8) + "done  \n",
         repeat("word ", 8) + "done"},
        {"inner white space kept", "\u2003hello\n\nworld\u2003", "hello\n\nworld"},
        {"clean short text keeps its case", "  Hello World ", "Hello World"},
        {"traditional and simplified mix", "優優独播剧场", ""},
        {"only the simplified form is not the phrase", "优优独播剧场", "优优独播剧场"},
        {"29 characters of 185 code points with a phrase", repeat(family, 26) + "柯远帆", ""},
        {"30 characters of 192 code points", repeat(family, 27) + "柯远帆",
         repeat(family, 27) + "柯远帆"},
        {"29 letters with two combining marks each", repeat("e\u0301\u0302", 26) + credit, ""},
        // under a Turkish locale "I" would lower to dotless i and miss "amara.org"
        {"capitals lowered without the locale", "\u0130stanbul AMARA.ORG", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BlacklistFilter::clean(c.input), c.expected) << c.name;
    }
}

TEST(BlacklistFilter, EveryListedPhraseIsCaught) {
    for (const auto phrase : Config::blacklist) {
        EXPECT_EQ(BlacklistFilter::clean(std::string(phrase)), "") << phrase;
    }
}

TEST(UnicodeText, TrimAndValidation) {
    EXPECT_EQ(UnicodeText::trim("\u200B x \u200B"), "\u200B x \u200B");  // ZWSP is not white space
    EXPECT_EQ(UnicodeText::trim("\v\fa\x1C"), "a\x1C");
    EXPECT_EQ(UnicodeText::trim(" \xFF "), "\xFF");  // stops at ill-formed bytes
    EXPECT_TRUE(UnicodeText::isValidUtf8("言泉 Sayloft"));
    EXPECT_FALSE(UnicodeText::isValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(UnicodeText::isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(UnicodeText::isValidUtf8("abc\xE4\xB8"));   // truncated
}

// A combining accent takes the letter's script, an emoji or a full-width mark the script before it;
// digits alone or bytes of no script want a space, digits inside Chinese text do not.
TEST(UnicodeText, WantsASpaceAfterScriptsWrittenWithSpacesOnly) {
    for (const char* text : {"hello world", "Hello, world.", "it costs 42", "Wie geht's?",
                             "Привет, мир!", "Γειά σου", "안녕하세요.", "שלום", "naïve café",
                             "e\u0301", "42", "hello 👍", "hello！", "你好 hello", "\xff"}) {
        EXPECT_TRUE(UnicodeText::wantsSpaceAfter(text)) << text;
    }
    for (const char* text :
         {"你好", "你好。", "你好,世界", "你好123", "你好!", "こんにちは", "カタカナー",
          "ありがとう。", "สวัสดี", "hello 你好", "hello ", "hello\n", ""}) {
        EXPECT_FALSE(UnicodeText::wantsSpaceAfter(text)) << text;
    }
}

TEST(UnicodeText, OneLineJoinsWhiteSpaceAndCutsWholeCharacters) {
    struct Row {
        const char* text;
        std::size_t max;
        const char* line;
    };
    const Row rows[] = {
        {"hello world", 40, "hello world"},
        {"  first line\n\nsecond\tline  ", 40, "first line second line"},
        {"one\r\ntwo\u2028three", 40, "one two three"},
        {"abcdefghij", 10, "abcdefghij"},
        {"abcdefghijk", 10, "abcdefghi…"},
        {"abcd efghijk", 6, "abcd…"},  // no space before the ellipsis
        {"你好世界你好世界", 5, "你好世界…"},
        {"👍🏽👍🏽👍🏽", 2,
         "👍🏽…"},  // an emoji with its skin tone is one character
        {"\n \t", 40, ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UnicodeText::oneLine(row.text, row.max), row.line) << row.text;
    }
}

}  // namespace
}  // namespace sayloft
