#include <gtest/gtest.h>

#include "server/RecognizerSettings.h"

namespace sayloft {
namespace {

TEST(RecognizerSettings, AssignmentsBecomeDecoderArgumentsInOrder) {
    RecognizerSettings settings;
    EXPECT_EQ(settings.describe(), "pocketsphinx defaults");
    ASSERT_TRUE(settings.apply("beam=1e-60, lw=9\twip=0.2", nullptr));
    ASSERT_TRUE(settings.apply("lw=10 fwdflat=no", nullptr));
    EXPECT_EQ(settings.arguments(), (std::vector<std::string>{"-beam", "1e-60", "-lw", "10", "-wip",
                                                              "0.2", "-fwdflat", "no"}));
    EXPECT_EQ(settings.describe(), "beam=1e-60 lw=10 wip=0.2 fwdflat=no");
    EXPECT_EQ(settings.value("lw"), "10");
    EXPECT_EQ(settings.value("pbeam"), std::nullopt);
}

TEST(RecognizerSettings, RefusesWhatTheDecoderWouldNotTakeAndChangesNothing) {
    struct Row {
        const char* assignments;
        const char* reason;
    };
    const Row rows[] = {
        {"hmm=/tmp/model", "unknown search setting 'hmm'"},
        {"lw=9 beam", "'beam' is not name=value"},
        {"lw=nine", "invalid value 'nine' for search setting lw (a number from 0.1 to 100)"},
        {"beam=1e-10", "(a number from 1e-300 to 1e-15)"},
        {"bestpath=1", "(yes or no)"},
    };
    for (const auto& row : rows) {
        RecognizerSettings settings;
        std::string error;
        EXPECT_FALSE(settings.apply(row.assignments, &error)) << row.assignments;
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_TRUE(settings.arguments().empty()) << row.assignments;
    }
}

TEST(RecognizerSettings, TheChosenSettingsAreValidNames) {
    const auto chosen = RecognizerSettings::chosen();
    RecognizerSettings copy;
    EXPECT_TRUE(
        copy.apply(chosen.describe() == "pocketsphinx defaults" ? "" : chosen.describe(), nullptr));
    EXPECT_EQ(copy.arguments(), chosen.arguments());
}

}  // namespace
}  // namespace sayloft
