#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sayloft {

// Small Unicode helpers over UTF-8 text, independent of the process locale.
struct UnicodeText {
    // True when the bytes are well-formed UTF-8 (no surrogates, no overlong forms).
    static bool isValidUtf8(std::string_view bytes);

    // True for the white-space-and-line-break set: general categories Zs, Zl and Zp, the tab,
    // U+000A to U+000D and U+0085.
    static bool isWhitespaceOrNewline(char32_t codePoint);

    // The text without leading and trailing white space and line breaks (the set above). Inner
    // characters are untouched. Ill-formed UTF-8 is never trimmed into: trimming stops at it.
    static std::string trim(std::string_view utf8);

    // The number of user-perceived characters (extended grapheme clusters).
    static std::int64_t graphemeCount(std::string_view utf8);

    // The text cut into consecutive pieces of maxGraphemes user-perceived characters (the last
    // piece may hold fewer); a character is never split. Empty text gives no pieces.
    static std::vector<std::string> graphemeChunks(std::string_view utf8, std::size_t maxGraphemes);

    // The text as UTF-16 code units; ill-formed bytes become U+FFFD.
    static std::u16string toUtf16(std::string_view utf8);

    // The characters to type for UTF-16 text: surrogate pairs joined, a lone surrogate as U+FFFD,
    // CR LF and a lone CR as one line break (U+000A).
    static std::u32string typedCodePoints(const std::u16string& text);

    // Whether text that follows this one needs a space to keep the words apart: true when the
    // last character that belongs to a script (digits, punctuation and symbols take the script of
    // the letters before them; ICU's script extensions decide, so "。" counts as Chinese or
    // Japanese) is of a script written with spaces between words. False after scripts written
    // without them (Chinese, Japanese, Thai...: ICU says lines break between their letters),
    // after trailing white space, and for empty text. Text of digits, punctuation and symbols
    // alone counts as written with spaces.
    static bool wantsSpaceAfter(std::string_view utf8);

    // The text on one line: every run of white space and line breaks becomes one space, the ends
    // are trimmed, and a text of more than maxGraphemes user-perceived characters is cut to
    // maxGraphemes - 1 of them followed by "…".
    static std::string oneLine(std::string_view utf8, std::size_t maxGraphemes);
};

}  // namespace sayloft
