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

struct FilterCase {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(BlacklistFilter, Cases) {
    const std::string credit = "字幕组";  // 3 characters
    const std::vector<FilterCase> cases = {
        {"only white space", " \t\r\n\u3000\u2028\u0085\u00A0 ", ""},
        {"a phrase and a line break", "谢谢观看\n", ""},
        {"Latin phrase in capitals", "Subtitles by AMARA.ORG", ""},
        {"Latin phrase in mixed case", "Amara.Org", ""},
        {"phrase in the middle", "今天天气字幕由某某提供很好", ""},
        {"29 characters with a phrase", repeat("好", 26) + credit, ""},
        {"30 characters with a phrase", repeat("好", 27) + credit, repeat("好", 27) + credit},
        {"25 Chinese characters, 75 bytes, still compared", repeat("中", 22) + credit, ""},
        {"outer blanks of a long text", "  " + repeat("word ", 8) + "done  \n",
         repeat("word ", 8) + "done"},
        {"inner white space kept", "\u2003hello\n\nworld\u2003", "hello\n\nworld"},
        {"clean short text keeps its case", "  Hello World ", "Hello World"},
        {"traditional and simplified mix", "優優独播剧场", ""},
        {"only the simplified form is not the phrase", "优优独播剧场", "优优独播剧场"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BlacklistFilter::clean(c.input), c.expected) << c.name;
    }
}

TEST(BlacklistFilter, LengthCountsGraphemeClustersNotCodePoints) {
    // A family emoji (7 code points) and a letter with two combining marks each count as one.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    const std::string accented = "e\u0301\u0302";
    EXPECT_EQ(UnicodeText::graphemeCount(family + accented + "ab"), 4);

    // 26 emoji + "柯远帆" = 29 clusters (but 185 code points): still compared, so dropped.
    EXPECT_EQ(BlacklistFilter::clean(repeat(family, 26) + "柯远帆"), "");
    EXPECT_EQ(BlacklistFilter::clean(repeat(family, 27) + "柯远帆"), repeat(family, 27) + "柯远帆");
}

TEST(BlacklistFilter, LowerCaseDoesNotDependOnTheLocale) {
    // Under a Turkish locale "I" would lower to dotless i and miss "amara.org"; the root mapping
    // must be used.
    EXPECT_EQ(BlacklistFilter::clean("AMARA.ORG"), "");
    EXPECT_EQ(BlacklistFilter::clean("\u0130stanbul amara.org"), "");
}

TEST(BlacklistFilter, EveryListedPhraseIsCaught) {
    for (const auto phrase : Config::blacklist) {
        EXPECT_EQ(BlacklistFilter::clean(std::string(phrase)), "") << phrase;
    }
}

TEST(UnicodeText, TrimAndValidation) {
    EXPECT_EQ(UnicodeText::trim("\u200B x \u200B"), "\u200B x \u200B");  // ZWSP is not white space
    EXPECT_EQ(UnicodeText::trim("\x0B\x0C"
                                "a\x1C"),
              "a\x1C");
    EXPECT_EQ(UnicodeText::trim(" \xFF "), "\xFF");  // stops at ill-formed bytes
    EXPECT_TRUE(UnicodeText::isValidUtf8("言泉 Sayloft"));
    EXPECT_FALSE(UnicodeText::isValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(UnicodeText::isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(UnicodeText::isValidUtf8("abc\xE4\xB8"));   // truncated
}

}  // namespace
}  // namespace sayloft
