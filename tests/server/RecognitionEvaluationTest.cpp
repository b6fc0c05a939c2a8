// The recogniser's words: measured (the word error rate, `--evaluate` over a folder of
// recordings), the user's words (pronunciations from espeak-ng's phonemes, and which words join
// the dictionary), and the sentences the service makes of them.

#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/audio/Recorder.h"
#include "core/text/BlacklistFilter.h"
#include "server/EspeakPronunciation.h"
#include "server/ReadableText.h"
#include "server/RecognitionEvaluation.h"
#include "server/SpeechRecognizer.h"
#include "server/UserWordsDictionary.h"

namespace sayloft {
namespace {

// Answers by the length of the audio; a length it does not know fails.
struct ScriptedRecognizer : SpeechRecognizer {
    explicit ScriptedRecognizer(std::map<std::size_t, std::string> scripted)
        : answers(std::move(scripted)) {}
    Result recognize(std::span<const std::int16_t> samples) override {
        const auto answer = answers.find(samples.size());
        return answer == answers.end() ? Result{false, {}, 503, "busy"}
                                       : Result{true, answer->second, 0, {}};
    }
    std::string describe() const override { return "scripted"; }
    std::map<std::size_t, std::string> answers;
};

std::string wav(std::size_t samples) {
    const auto bytes = Recorder::encodeWav(std::vector<std::int16_t>(samples, 100), 16000);
    return {bytes.begin(), bytes.end()};
}

TEST(RecognitionEvaluation, CountsWordErrorsAndProcessingTimeOverAFolder) {
    test::TempHome home;
    home.write("b.wav", wav(32000));
    home.write("b.txt", "Call me when you get home.\n");
    home.write("a.wav", wav(16000));
    home.write("a.txt", "the cat sat");
    home.write("c.wav", wav(8000));
    home.write("c.txt", "two words");
    home.write("notes.md", "not a recording");
    std::string error;
    const auto set = EvaluationSet::load(home.path(), &error);
    ASSERT_TRUE(set) << error;
    ASSERT_EQ(set->size(), 3u);
    EXPECT_EQ((*set)[0].name, "a");

    ScriptedRecognizer recognizer(
        {{16000, "the cat sat down"}, {32000, "call me when you go home"}});
    double clock = 0;
    std::ostringstream out;
    const auto totals = RecognitionEvaluation::run(
        recognizer, *set, [&] { return clock += 0.25; }, out);
    EXPECT_EQ(
        out.str(),
        "a\t1/3\tthe cat sat down\nb\t1/6\tcall me when you go home\nc\t2/2\t(failed: busy)\n");
    EXPECT_EQ(totals.errors, 4u);
    EXPECT_EQ(totals.words, 11u);
    EXPECT_EQ(totals.failures, 1u);
    EXPECT_DOUBLE_EQ(totals.realTimeFactor(), 0.75 / 3.5);
    EXPECT_EQ(RecognitionEvaluation::summary(totals),
              "word error rate 36.4 % (4 of 11 words), real-time factor 0.214 (0.8 s for 3.5 s of "
              "audio), 1 failed");
}

TEST(RecognitionEvaluation, RefusesAFolderItCannotMeasure) {
    const std::pair<std::vector<std::pair<std::string, std::string>>, const char*> rows[] = {
        {{}, "holds no .wav file"},
        {{{"a.wav", wav(16000)}}, "a.wav has no reference text a.txt"},
        {{{"a.wav", "RIFF"}, {"a.txt", "x"}}, "a.wav is not a usable WAV file"},
    };
    for (const auto& [files, reason] : rows) {
        test::TempHome home;
        for (const auto& [name, bytes] : files) {
            home.write(name, bytes);
        }
        std::string error;
        EXPECT_FALSE(EvaluationSet::load(home.path(), &error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(EspeakPronunciation, MapsEspeakPhonemesToTheModelsPhones) {
    const std::tuple<const char*, std::optional<std::string>, const char*> rows[] = {
        {"h_@_l_'oU\n", "HH AH L OW", ""},
        {" s_'eI_l_O2_f_t", "S EY L AO F T", ""},
        {"b_'0_t#_@L", "B AA T AH L", ""},
        {"b_'V_?_n-", "B AH T AH N", ""},
        {"h_'i@3 tS_'3:_tS", "HH IY R CH ER CH", ""},
        {"k_'A@_Q", std::nullopt, "Q"},
        {"", std::nullopt, "(nothing)"},
    };
    for (const auto& [mnemonics, phones, unmappedPart] : rows) {
        std::string unmapped;
        EXPECT_EQ(EspeakPronunciation::toCmuPhones(mnemonics, &unmapped), phones) << mnemonics;
        EXPECT_EQ(unmapped, unmappedPart) << mnemonics;
    }
}

// What espeak-ng derives is checked through `--evaluate` in RecognitionQualityTest.
TEST(EspeakPronunciation, RefusesWhatItCannotSpell) {
    for (const char* word : {"x2z", "量子", "-rf", "a b"}) {
        std::string reason;
        EXPECT_EQ(EspeakPronunciation::derive(word, &reason), std::nullopt) << word;
        EXPECT_NE(reason.find("letters a to z"), std::string::npos) << reason;
    }
}

TEST(UserWordsDictionary, AddsOnlyUnknownWordsAndReportsThoseWithoutPronunciation) {
    test::TempHome home;
    const auto dictionary =
        home.write("dict", "cluster K L AH S T ER\nkubernetes(2) K UW B ER N EH T IY Z\n");
    const auto pronounce = [](const std::string& word, std::string* reason) {
        if (word == "Sayloft") {
            return std::optional<std::string>("S EY L AO F T");
        }
        *reason = "no";
        return std::optional<std::string>();
    };
    const auto outcome = UserWordsDictionary::resolve(
        {"Sayloft", "Kubernetes cluster", "x2z Sayloft"}, dictionary, pronounce);
    ASSERT_EQ(outcome.added.size(), 1u);
    EXPECT_EQ(outcome.added[0].phones, "S EY L AO F T");
    EXPECT_EQ(outcome.known, (std::vector<std::string>{"Kubernetes", "cluster"}));
    EXPECT_EQ(outcome.underivable, (std::vector<std::string>{"x2z (no)"}));
    EXPECT_EQ(outcome.describe(),
              "1 word(s) added, 2 already known; no pronunciation could be derived for: x2z (no)");
}

// The built-in recogniser's words made into a sentence: one table of recogniser outputs and the
// texts the service answers for them.
struct Sentence {
    const char* words;  // as pocketsphinx gives them
    const char* text;   // as the service answers
};

constexpr Sentence sentences[] = {
    // The first letter, the closing full stop, and nothing else guessed.
    {"  hello world \n", "Hello world."},
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
    // Junk the client's filter drops stays as recognised; at 29 characters a closing full stop
    // would lift it to the filter's limit of 30 and it would be typed.
    {"subtitles by amara.org", "subtitles by amara.org"},
    {"subtitles by amara.org thanks", "subtitles by amara.org thanks"},
};

TEST(ReadableText, RecogniserWordsBecomeTheseSentences) {
    for (const Sentence& row : sentences) {
        EXPECT_EQ(ReadableText::of(row.words), row.text) << '"' << row.words << '"';
    }
}

TEST(ReadableText, TheClientsJunkFilterDecidesAsOnTheRecognisersWords) {
    for (const Sentence& row : sentences) {
        EXPECT_EQ(BlacklistFilter::clean(ReadableText::of(row.words)).empty(),
                  BlacklistFilter::clean(row.words).empty())
            << '"' << row.words << '"';
    }
}

}  // namespace
}  // namespace sayloft
