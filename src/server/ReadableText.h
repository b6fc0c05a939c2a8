#pragma once

#include <string>
#include <string_view>

namespace sayloft {

// Turns the built-in recogniser's words (lower case, single spaces, no punctuation) into a written
// sentence, guessing nothing beyond these rules:
//   - outer white space is removed;
//   - the first letter of the text is upper case (unless a digit or a non-ASCII character comes
//     first: "3 apples");
//   - the pronoun "i" and its contractions "i'm", "i've", "i'll", "i'd" are written "I…";
//   - the words of ReadableText.cpp's properWords (weekdays, months, a few names) are written
//     as listed there, also with "'s", "s" or "s'" after them ("sunday's" → "Sunday's") but never
//     inside another word ("maybe" stays); "may" and "march" only right after "in", "of",
//     "since", "until" or "mid" ("in may", "mid-march"): elsewhere they are a verb or noun;
//   - a full stop is added unless the text ends in . ! ? , ; : or … already.
// A word is a run of ASCII letters, apostrophes and non-ASCII bytes; matching is by the whole
// word, case-insensitively. Text without an ASCII letter or digit (empty, blank, punctuation) and
// text the client's BlacklistFilter drops as junk are returned exactly as given, so that the
// filter decides on what the recogniser heard: a closing full stop must not lift a short junk
// transcript to the filter's length limit.
struct ReadableText {
    static std::string of(std::string_view words);
};

}  // namespace sayloft
