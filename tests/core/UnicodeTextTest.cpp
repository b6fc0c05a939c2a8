#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

TEST(UnicodeText, WantsASpaceAfterScriptsWrittenWithSpacesOnly) {
    struct Row {
        const char* text;
        bool wanted;
    };
    const Row rows[] = {
        {"hello world", true},  {"Hello, world.", true},
        {"it costs 42", true},  {"Wie geht's?", true},
        {"Привет, мир!", true}, {"Γειά σου", true},
        {"안녕하세요.", true},  {"שלום", true},
        {"naïve café", true},   {"e\u0301", true},  // a combining accent takes the letter's script
        {"42", true},                               // digits alone
        {"hello 👍", true},                          // an emoji takes the script before it
        {"hello！", true},                          // a full-width mark after Latin letters
        {"你好", false},        {"你好。", false},
        {"你好,世界", false},   {"你好123", false},  // digits inside Chinese text
        {"你好!", false},       {"こんにちは", false},
        {"カタカナー", false},  {"ありがとう。", false},
        {"สวัสดี", false},  // Thai is written without spaces too
        {"hello 你好", false},  {"你好 hello", true},
        {"hello ", false},  // already spaced
        {"hello\n", false},     {"", false},
        {"\xff", true},  // no script at all
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UnicodeText::wantsSpaceAfter(row.text), row.wanted) << row.text;
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
