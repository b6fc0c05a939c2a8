// Recognition through the whole service with the built-in recogniser: human recordings shipped
// with their transcripts by Debian's pocketsphinx-testdata, and sentences spoken by flite's slt
// voice. The thresholds sit a little above the word error rates measured when the tests were
// written, so that a fault in the audio path (wrong rate, clipping, byte order) fails.
// Also POST /v1/stream's share of the decoders, and the user's words through `--evaluate`.

#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "server/WordErrorRate.h"

namespace sayloft::test {
namespace {

using nlohmann::json;

const std::string librivox = "/usr/share/pocketsphinx/test/data/librivox/";

struct Utterance {
    std::string reference, wav;  // the words, and the WAV file's bytes
};

std::vector<Utterance> librivoxUtterances() {
    std::ifstream in(librivox + "transcription");
    std::vector<Utterance> out;
    static const std::regex line("<s> (.*) </s> \\((.*)\\)");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            out.push_back({m[1].str(), TestForms::readFile(librivox + m[2].str() + ".wav")});
        }
    }
    return out;
}

const char* const sentences[] = {
    "please send the report to the team before noon",
    "the weather will be cold and windy tomorrow morning",
    "we need three more chairs for the meeting room",
    "call me when you get home tonight",
    "the train to the city leaves at seven",
    "she bought a new phone last week",
    "turn left at the next street and drive slowly",
    "thank you for the kind letter",
};

// Writes NAME.wav (flite's slt voice speaking `words`) and NAME.txt into dir; the WAV's bytes,
// "" (and a failed test) when flite fails.
std::string speak(const std::filesystem::path& dir, const std::string& name,
                  const std::string& words) {
    const auto wav = (dir / (name + ".wav")).string();
    if (std::system(("flite -voice slt -t \"" + words + "\" -o " + wav).c_str()) != 0) {
        ADD_FAILURE() << "flite (Debian package flite) is needed";
        return "";
    }
    std::ofstream(dir / (name + ".txt")) << words << "\n";
    return TestForms::readFile(wav);
}

// An evaluation set of two sentences flite speaks, made once per test program: "meet", heard
// word for word, and "notes", with a word the dictionary lacks.
const std::filesystem::path& evaluationSet() {
    static const TempDir folder;
    static const bool spoken =
        !speak(folder.path(), "meet", "i think we can meet in may").empty() &&
        !speak(folder.path(), "notes", "send the notes to sayloft today").empty();
    EXPECT_TRUE(spoken);
    return folder.path();
}

// One server with the built-in recogniser, with enough queue (and patience) for every request a
// test sends at once, however slow the machine.
struct Recogniser {
    ServerProcess server{std::vector<std::string>{"--decoders", "2", "--stream-decoders", "2",
                                                  "--rate-burst", "1000", "--max-queued-seconds",
                                                  "3600", "--queue-timeout", "3600"}};
    std::string token = registerToken(server.port());
};
Recogniser& recogniser() {
    static Recogniser shared;
    EXPECT_FALSE(shared.token.empty()) << shared.server.output();
    return shared;
}

// The sentences as flite's slt voice speaks them, made once per test program.
const std::vector<Utterance>& spoken() {
    static const TempDir folder;
    static const std::vector<Utterance> made = [] {
        std::vector<Utterance> out;
        for (const char* sentence : sentences) {
            out.push_back({sentence, speak(folder.path(), std::to_string(out.size()), sentence)});
        }
        return out;
    }();
    return made;
}

// text and duration of one transcription; fails the test on anything but 200.
std::pair<std::string, double> transcribe(const std::string& wav) {
    const auto res = upload(recogniser().server.port(), recogniser().token, wav);
    if (!res || res->status != 200) {
        ADD_FAILURE() << "transcription failed: " << (res ? res->body : "no answer");
        return {"", 0};
    }
    const auto body = json::parse(res->body);
    return {body["text"], body["duration"]};
}

// The word error rate over the set, every utterance uploaded at once (the service queues them,
// and each answer must be its own utterance's).
double wordErrorRate(const std::vector<Utterance>& set) {
    std::vector<std::string> texts(set.size());
    {
        std::vector<std::jthread> all;
        for (std::size_t i = 0; i < set.size(); ++i) {
            all.emplace_back([&, i] { texts[i] = transcribe(set[i].wav).first; });
        }
    }
    std::size_t errors = 0, words = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        errors += WordErrorRate::errors(set[i].reference, texts[i]);
        words += WordErrorRate::words(set[i].reference).size();
    }
    return static_cast<double>(errors) / static_cast<double>(words);
}

// tests/core/AudioTest.cpp holds the conversion of other rates and layouts to 16 kHz mono.
TEST(Recognition, HumanRecordings) {
    const auto set = librivoxUtterances();
    ASSERT_EQ(set.size(), 5u) << "Debian package pocketsphinx-testdata is needed";
    const double wer = wordErrorRate(set);
    std::printf("librivox word error rate: %.3f\n", wer);
    EXPECT_LT(wer, 0.36);  // measured 0.324
}

TEST(Recognition, SynthesisedSentencesEightAtOnce) {
    // All eight are sent together: each answer must be its own sentence.
    const double wer = wordErrorRate(spoken());
    RecordProperty("word_error_rate", std::to_string(wer));
    std::printf("flite slt word error rate: %.3f\n", wer);
    EXPECT_LT(wer, 0.2);  // measured 0.156
}

TEST(Recognition, StreamedInPiecesGivesTheWordsOfTheUpload) {
    for (const auto& u : spoken()) {
        StreamingClient client(recogniser().server.port(), recogniser().token);
        // An odd chunk size splits samples between chunks.
        client.sendSamples(u.wav, 3201);
        const auto raw = client.finish();
        ASSERT_EQ(statusOf(raw), 200) << raw;
        EXPECT_EQ(json::parse(bodyOf(raw))["text"], transcribe(u.wav).first) << u.reference;
    }
}

TEST(Recognition, TheAnswerIsAWrittenSentenceAndItsDurationTheAudioLength) {
    // A sentence the recogniser hears word for word, so the whole answer can be compared.
    const std::string wav = TestForms::readFile((evaluationSet() / "meet.wav").string());
    const auto [text, duration] = transcribe(wav);
    EXPECT_EQ(text, "I think we can meet in May.");
    EXPECT_NEAR(duration, static_cast<double>(wav.size() - 44) / 32000.0, 0.01);
    // Silence is recognised as nothing rather than failing.
    const auto [silentText, silentDuration] =
        transcribe(TestForms::wav16(std::vector<std::int16_t>(16000, 0), 16000));
    EXPECT_DOUBLE_EQ(silentDuration, 1.0);
    EXPECT_LE(WordErrorRate::words(silentText).size(), 1u);
}

TEST(Recognition, ATakenStreamShareRefusesTheNextButNotAnUploadUntilFinishedOrCancelled) {
    const auto tone = [](double seconds) {
        return TestForms::wav16(TestForms::tone(seconds), 16000);
    };
    StreamingClient first(recogniser().server.port(), recogniser().token);
    ASSERT_TRUE(first.sendSamples(tone(0.5), 3200));
    {
        StreamingClient cancelled(recogniser().server.port(), recogniser().token);
        ASSERT_TRUE(cancelled.sendSamples(tone(0.5), 3200));
        const auto refused =
            StreamingClient(recogniser().server.port(), recogniser().token).readResponse(10'000);
        EXPECT_EQ(statusOf(refused), 503) << refused;
        EXPECT_EQ(headerOf(refused, "Retry-After"), "1");
        EXPECT_EQ(transcribe(tone(0.5)).second, 0.5);
    }
    const auto answer = first.finish();
    ASSERT_EQ(statusOf(answer), 200) << answer;
    EXPECT_TRUE(headerOf(answer, "Server-Timing").starts_with("recognize;dur="));
    EXPECT_DOUBLE_EQ(json::parse(bodyOf(answer))["duration"], 0.5);
    // The cancelled stream is logged and frees its decoder at once.
    ASSERT_TRUE(recogniser().server.waitForLine("POST /v1/stream 499", std::chrono::seconds(20)));
    StreamingClient next(recogniser().server.port(), recogniser().token);
    StreamingClient another(recogniser().server.port(), recogniser().token);
    ASSERT_TRUE(next.sendSamples(tone(0.2), 3200) && another.sendSamples(tone(0.2), 3200));
    EXPECT_EQ(statusOf(next.finish()), 200);
    EXPECT_EQ(statusOf(another.finish()), 200);
}

TEST(UserWords, AnAddedWordIsRecognisedWhereItWasNotBeforeAndABrokenFileIsReported) {
    TempDir config;
    const auto words = config.path() / "words.txt";
    const auto broken = config.path() / "broken.txt";
    std::ofstream(words) << "# names\nSayloft\nx2z!\n";
    std::ofstream(broken) << "Sayloft\n\xff\xfe\n";
    struct Row {
        std::string words, out;
        bool withTheWord;
        std::string err;
    };
    const Row rows[] = {
        {"", "meet\t0/7\ti think we can meet in may\n", false, ""},
        {words.string(), " Sayloft today\n", true,
         "1 word(s) added, 0 already known; no pronunciation could be derived for: x2z!"},
        {broken.string(), "meet\t0/7\t", false,
         "the words file " + broken.string() +
             " is not usable: it is not UTF-8 text; going on without the user's words"},
    };
    for (const auto& row : rows) {
        const auto run =
            ServerProcess::run({"--evaluate", evaluationSet().string(), "--words", row.words});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Sayloft") != std::string::npos, row.withTheWord) << run.out;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace sayloft::test
