#include "server/ReadableText.h"

#include <algorithm>

#include "core/text/BlacklistFilter.h"

namespace sayloft {
namespace {

struct ProperWord {
    std::string_view lower;  // as the recogniser writes it
    std::string_view written;
    // The word is also a common verb or noun ("you may", "a march"): written as listed only
    // right after one of monthPrepositions.
    bool onlyAfterPreposition = false;
};

// Words written with a capital wherever they stand. To extend, add a row; a word that is just as
// often an ordinary lower-case word (china, turkey, polish, bill, will) does not belong here, or
// only with onlyAfterPreposition and a test of the sentences it would change.
constexpr ProperWord properWords[] = {
    {"monday", "Monday"},       {"tuesday", "Tuesday"},
    {"wednesday", "Wednesday"}, {"thursday", "Thursday"},
    {"friday", "Friday"},       {"saturday", "Saturday"},
    {"sunday", "Sunday"},       {"january", "January"},
    {"february", "February"},   {"march", "March", true},
    {"april", "April"},         {"may", "May", true},
    {"june", "June"},           {"july", "July"},
    {"august", "August"},  // the adjective ("an august body") is rare in dictation
    {"september", "September"}, {"october", "October"},
    {"november", "November"},   {"december", "December"},
    {"christmas", "Christmas"}, {"easter", "Easter"},
    {"halloween", "Halloween"}, {"english", "English"},
    {"french", "French"},       {"german", "German"},
    {"spanish", "Spanish"},     {"italian", "Italian"},
    {"chinese", "Chinese"},     {"japanese", "Japanese"},
    {"russian", "Russian"},     {"american", "American"},
    {"british", "British"},     {"european", "European"},
    {"america", "America"},     {"europe", "Europe"},
    {"england", "England"},     {"london", "London"},
    {"paris", "Paris"},         {"germany", "Germany"},
    {"france", "France"},       {"japan", "Japan"},
    {"canada", "Canada"},       {"australia", "Australia"},
    {"linux", "Linux"},
};

// After these, "may" and "march" are the month: "in may", "the first of march", "since may",
// "until march", "mid-may".
constexpr std::string_view monthPrepositions[] = {"in", "of", "since", "until", "mid"};

// What may follow a proper word and still leave it that word: "sunday's", "sundays", "sundays'".
constexpr std::string_view properWordEndings[] = {"", "'s", "s", "s'"};

constexpr std::string_view pronounForms[] = {"i", "i'm", "i've", "i'll", "i'd"};

// Characters after which the text needs no closing full stop.
constexpr std::string_view endingPunctuation = ".!?,;:";
constexpr std::string_view ellipsis = "\xE2\x80\xA6";
constexpr std::string_view outerSpace = " \t\r\n\f\v";

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiLetterOrDigit(char c) {
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

// Non-ASCII bytes belong to the word, so that a word with an accented letter never matches.
bool isWordByte(char c) {
    return isAsciiLetter(c) || c == '\'' || static_cast<unsigned char>(c) >= 0x80;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsLower(std::string_view word, std::string_view lower) {
    return word.size() == lower.size() &&
           std::equal(word.begin(), word.end(), lower.begin(),
                      [](char a, char b) { return asciiLower(a) == b; });
}

template <std::size_t N>
bool isOneOf(std::string_view word, const std::string_view (&lowerWords)[N]) {
    return std::any_of(std::begin(lowerWords), std::end(lowerWords),
                       [&](std::string_view w) { return equalsLower(word, w); });
}

// The written form of one word; `previous` is the word before it (empty for the first).
std::string writtenWord(std::string_view word, std::string_view previous) {
    std::string written(word);
    if (isOneOf(word, pronounForms)) {
        written[0] = 'I';
        return written;
    }
    for (const ProperWord& proper : properWords) {
        if (word.size() < proper.lower.size() ||
            !equalsLower(word.substr(0, proper.lower.size()), proper.lower) ||
            !isOneOf(word.substr(proper.lower.size()), properWordEndings)) {
            continue;
        }
        if (proper.onlyAfterPreposition && !isOneOf(previous, monthPrepositions)) {
            break;
        }
        written.replace(0, proper.lower.size(), proper.written);
        return written;
    }
    return written;
}

}  // namespace

std::string ReadableText::of(std::string_view words) {
    if (std::none_of(words.begin(), words.end(), isAsciiLetterOrDigit) ||
        BlacklistFilter::clean(words).empty()) {
        return std::string(words);
    }
    const auto first = words.find_first_not_of(outerSpace);
    const auto last = words.find_last_not_of(outerSpace);
    const std::string_view text = words.substr(first, last - first + 1);

    std::string out;
    out.reserve(text.size() + 1);
    std::string_view previous;
    for (std::size_t i = 0; i < text.size();) {
        if (!isWordByte(text[i])) {
            out += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isWordByte(text[end])) {
            ++end;
        }
        const std::string_view word = text.substr(i, end - i);
        out += writtenWord(word, previous);
        previous = word;
        i = end;
    }

    // The first letter, unless a digit or a non-ASCII character comes before it.
    const auto firstWordByte = std::find_if(out.begin(), out.end(), [](char c) {
        return isAsciiLetterOrDigit(c) || static_cast<unsigned char>(c) >= 0x80;
    });
    if (firstWordByte != out.end() && *firstWordByte >= 'a' && *firstWordByte <= 'z') {
        *firstWordByte = static_cast<char>(*firstWordByte - 'a' + 'A');
    }

    if (endingPunctuation.find(out.back()) == std::string_view::npos && !out.ends_with(ellipsis)) {
        out += '.';
    }
    return out;
}

}  // namespace sayloft
