// The user's words: pronunciations from espeak-ng's phonemes, and which words join the
// dictionary.

#include <gtest/gtest.h>

#include "TempHome.h"
#include "server/EspeakPronunciation.h"
#include "server/UserWordsDictionary.h"

namespace sayloft {
namespace {

TEST(EspeakPronunciation, MapsEspeakPhonemesToTheModelsPhones) {
    struct Row {
        const char* mnemonics;
        std::optional<std::string> phones;
        const char* unmapped;
    };
    const Row rows[] = {
        {"h_@_l_'oU\n", "HH AH L OW", ""},
        {" s_'eI_l_O2_f_t", "S EY L AO F T", ""},
        {"b_'0_t#_@L", "B AA T AH L", ""},
        {"b_'V_?_n-", "B AH T AH N", ""},
        {"h_'i@3 tS_'3:_tS", "HH IY R CH ER CH", ""},
        {"k_'A@_Q", std::nullopt, "Q"},
        {"", std::nullopt, "(nothing)"},
    };
    for (const auto& row : rows) {
        std::string unmapped;
        EXPECT_EQ(EspeakPronunciation::toCmuPhones(row.mnemonics, &unmapped), row.phones)
            << row.mnemonics;
        EXPECT_EQ(unmapped, row.unmapped) << row.mnemonics;
    }
}

TEST(EspeakPronunciation, DerivesWithEspeakAndRefusesWhatItCannotSpell) {
    std::string reason;
    EXPECT_EQ(EspeakPronunciation::derive("Sayloft", &reason), "S EY L AO F T")
        << reason << " (espeak-ng, Debian package espeak-ng, is needed)";
    for (const char* word : {"x2z", "量子", "-rf", "a b"}) {
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
    EXPECT_EQ(outcome.added[0].word, "Sayloft");
    EXPECT_EQ(outcome.added[0].phones, "S EY L AO F T");
    EXPECT_EQ(outcome.known, (std::vector<std::string>{"Kubernetes", "cluster"}));
    EXPECT_EQ(outcome.underivable, (std::vector<std::string>{"x2z (no)"}));
    EXPECT_EQ(outcome.describe(),
              "1 word(s) added, 2 already known; no pronunciation could be derived for: x2z (no)");
}

}  // namespace
}  // namespace sayloft
