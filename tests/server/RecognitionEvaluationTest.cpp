#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/audio/Recorder.h"
#include "server/RecognitionEvaluation.h"
#include "server/SpeechRecognizer.h"

namespace sayloft {
namespace {

// Answers by the length of the audio; a length it does not know fails.
class ScriptedRecognizer : public SpeechRecognizer {
public:
    explicit ScriptedRecognizer(std::map<std::size_t, std::string> answers)
        : answers_(std::move(answers)) {}
    Result recognize(std::span<const std::int16_t> samples) override {
        const auto answer = answers_.find(samples.size());
        if (answer == answers_.end()) {
            return {false, {}, 503, "busy"};
        }
        return {true, answer->second, 0, {}};
    }
    std::string describe() const override { return "scripted"; }

private:
    std::map<std::size_t, std::string> answers_;
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
    struct Row {
        std::vector<std::pair<std::string, std::string>> files;
        const char* reason;
    };
    const Row rows[] = {
        {{}, "holds no .wav file"},
        {{{"a.wav", wav(16000)}}, "a.wav has no reference text a.txt"},
        {{{"a.wav", "RIFF"}, {"a.txt", "x"}}, "a.wav is not a usable WAV file"},
    };
    for (const auto& row : rows) {
        test::TempHome home;
        for (const auto& [name, bytes] : row.files) {
            home.write(name, bytes);
        }
        std::string error;
        EXPECT_FALSE(EvaluationSet::load(home.path(), &error));
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(EvaluationSet::load("/nonexistent/folder", &error));
    EXPECT_NE(error.find("cannot read the folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace sayloft
