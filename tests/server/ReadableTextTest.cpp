// The built-in recogniser's words made into a sentence: one table of recogniser outputs and the
// texts the service answers for them.

#include <gtest/gtest.h>

#include "core/text/BlacklistFilter.h"
#include "server/ReadableText.h"

namespace sayloft {
namespace {

struct Row {
    const char* words;  // as pocketsphinx gives them
    const char* text;   // as the service answers
};

constexpr Row rows[] = {
    // The first letter, the closing full stop, and nothing else guessed.
    {"please send the quarterly report to the finance team before friday",
     "Please send the quarterly report to the finance team before Friday."},
    {"  hello world \n", "Hello world."},
    {"3 apples", "3 apples."},
    {"caf\xC3\xA9 on friday", "Caf\xC3\xA9 on Friday."},
    // The pronoun in every position and contraction; never inside or as another word.
    {"i", "I."},
    {"you and i agree", "You and I agree."},
    {"i'm sure i've seen what i'll need and i'd say so",
     "I'm sure I've seen what I'll need and I'd say so."},
    {"dot the i's if it is in", "Dot the i's if it is in."},
    // Weekdays and months, with "'s" and plurals; never inside another word.
    {"monday tuesday wednesday thursday friday saturday sunday",
     "Monday Tuesday Wednesday Thursday Friday Saturday Sunday."},
    {"from january february april june july august to september october november december",
     "From January February April June July August to September October November December."},
    {"sunday's game and the mondays", "Sunday's game and the Mondays."},
    {"maybe the marching band sundayish", "Maybe the marching band sundayish."},
    // "may" and "march" are verbs or nouns unless a preposition comes right before.
    {"may i come in", "May I come in."},
    {"we march on and the march was long", "We march on and the march was long."},
    {"since may and until march", "Since May and until March."},
    {"by mid-march", "By mid-March."},
    // The other proper words, also as part of a hyphenated word.
    {"an english-speaking team in london at christmas",
     "An English-speaking team in London at Christmas."},
    {"the americans and the european linux users", "The Americans and the European Linux users."},
    // Text already ending in punctuation (the dictionary's "a.m." included).
    {"see you on friday?", "See you on Friday?"},
    {"well\xE2\x80\xA6", "Well\xE2\x80\xA6"},
    {"at seven a.m.", "At seven a.m."},
    // Empty, blank or punctuation only: as given.
    {"", ""},
    {".", "."},
    {"' -", "' -"},
    // Junk the client's filter drops stays as recognised; at 29 characters a closing full stop
    // would lift it to the filter's limit of 30 and it would be typed.
    {"subtitles by amara.org", "subtitles by amara.org"},
    {"subtitles by amara.org thanks", "subtitles by amara.org thanks"},
};

TEST(ReadableText, RecogniserWordsBecomeTheseSentences) {
    for (const Row& row : rows) {
        EXPECT_EQ(ReadableText::of(row.words), row.text) << '"' << row.words << '"';
    }
}

TEST(ReadableText, TheClientsJunkFilterDecidesAsOnTheRecognisersWords) {
    for (const Row& row : rows) {
        EXPECT_EQ(BlacklistFilter::clean(ReadableText::of(row.words)).empty(),
                  BlacklistFilter::clean(row.words).empty())
            << '"' << row.words << '"';
    }
}

}  // namespace
}  // namespace sayloft
