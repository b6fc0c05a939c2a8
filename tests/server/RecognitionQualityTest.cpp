// Recognition through the whole service with the built-in recogniser: human recordings shipped
// with their transcripts by Debian's pocketsphinx-testdata, and sentences spoken by flite's slt
// voice. The thresholds sit a little above the word error rates measured when the tests were
// written, so that a fault in the audio path (wrong rate, clipping, channels mixed wrong) fails.

#include <cmath>
#include <cstdlib>
#include <cstring>
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
    std::string reference;
    std::string wav;  // file bytes
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

// The same audio as 48 kHz stereo 32-bit float (linear interpolation up, both channels equal).
std::string asStereoFloat48k(const std::string& wav16kFile) {
    std::vector<std::int16_t> mono;
    {
        // The test files are canonical 16 kHz mono 16-bit.
        const std::size_t count = (wav16kFile.size() - 44) / 2;
        mono.resize(count);
        std::memcpy(mono.data(), wav16kFile.data() + 44, count * 2);
    }
    std::vector<float> out;
    out.reserve(mono.size() * 6);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        const float a = mono[i] / 32768.0f;
        const float b = (i + 1 < mono.size() ? mono[i + 1] : mono[i]) / 32768.0f;
        for (int k = 0; k < 3; ++k) {
            const float v = a + (b - a) * static_cast<float>(k) / 3.0f;
            out.push_back(v);
            out.push_back(v);
        }
    }
    return TestForms::wavFloat(out, 48000, 2);
}

class Recognition : public ::testing::Test {
protected:
    // Enough queue for every request a test sends at once, however slow the machine.
    static void SetUpTestSuite() {
        server_ = new ServerProcess({"--decoders", "2", "--stream-decoders", "2", "--rate-burst",
                                     "1000", "--max-queued-seconds", "3600"});
        ASSERT_TRUE(server_->started()) << server_->output();
        token_ = registerToken(server_->port());
        ASSERT_FALSE(token_.empty());
    }
    static void TearDownTestSuite() { delete server_; }

    // The sentences as flite's slt voice speaks them, made once per test program.
    static const std::vector<Utterance>& spoken() {
        static const std::vector<Utterance> made = [] {
            std::vector<Utterance> out;
            for (const char* sentence : sentences) {
                out.push_back({sentence, flite(sentence)});
            }
            return out;
        }();
        return made;
    }
    // The WAV file flite's slt voice makes of `sentence`; fails the test when flite fails.
    static std::string flite(const std::string& sentence) {
        static const TempDir folder;
        static int made = 0;
        const auto file = (folder.path() / (std::to_string(made++) + ".wav")).string();
        const std::string command = "flite -voice slt -t \"" + sentence + "\" -o " + file;
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "flite (Debian package flite) is needed";
            return "";
        }
        return TestForms::readFile(file);
    }

    // text and duration of one transcription; fails the test on anything but 200.
    static std::pair<std::string, double> transcribe(const std::string& wav) {
        httplib::Client c("127.0.0.1", server_->port());
        c.set_read_timeout(std::chrono::seconds(120));
        const auto b = TestForms::newBoundary();
        const auto res =
            c.Post("/v1/transcribe", {{"Authorization", "Bearer " + token_}},
                   TestForms::transcribeBody(b, wav), TestForms::contentType(b).c_str());
        if (!res || res->status != 200) {
            ADD_FAILURE() << "transcription failed: " << (res ? res->body : "no answer");
            return {"", 0};
        }
        const auto body = json::parse(res->body);
        return {body["text"], body["duration"]};
    }

    // The text of the WAV file's samples (16 kHz mono 16-bit, as the test files are) sent to
    // v1/stream in chunks of chunkBytes (odd sizes split samples between chunks).
    static std::string stream(const std::string& wav, std::size_t chunkBytes) {
        StreamingClient client(server_->port(), token_);
        client.send(StreamingClient::bigEndian(std::string_view(wav).substr(44)), chunkBytes);
        const auto raw = client.finish();
        if (statusOf(raw) != 200) {
            ADD_FAILURE() << "stream failed: " << raw;
            return "";
        }
        return json::parse(bodyOf(raw))["text"];
    }

    static std::string uploaded(const std::string& wav) { return transcribe(wav).first; }

    // The word error rate over the set, every utterance uploaded at once (the service queues
    // them, and each answer must be its own utterance's).
    static double wordErrorRate(const std::vector<Utterance>& set,
                                const std::function<std::string(const Utterance&)>& audio) {
        std::vector<std::string> texts(set.size());
        {
            std::vector<std::jthread> all;
            for (std::size_t i = 0; i < set.size(); ++i) {
                all.emplace_back([&, i] { texts[i] = uploaded(audio(set[i])); });
            }
        }
        std::size_t errors = 0, words = 0;
        for (std::size_t i = 0; i < set.size(); ++i) {
            errors += WordErrorRate::errors(set[i].reference, texts[i]);
            words += WordErrorRate::words(set[i].reference).size();
        }
        return static_cast<double>(errors) / static_cast<double>(words);
    }

    static ServerProcess* server_;
    static std::string token_;
};
ServerProcess* Recognition::server_ = nullptr;
std::string Recognition::token_;

TEST(WordErrorRateHelper, CountsEditsOverReferenceWords) {
    EXPECT_EQ(WordErrorRate::errors("the cat sat", "the cat sat"), 0u);
    EXPECT_EQ(WordErrorRate::errors("the cat sat", "The cat, sat."), 0u);
    EXPECT_EQ(WordErrorRate::errors("the cat sat", "a cat sat down"), 2u);
    EXPECT_EQ(WordErrorRate::errors("the cat sat", ""), 3u);
}

TEST_F(Recognition, HumanRecordingsAsRecordedAndAt48kStereoFloat) {
    const auto set = librivoxUtterances();
    ASSERT_EQ(set.size(), 5u) << "Debian package pocketsphinx-testdata is needed";
    const std::pair<const char*, std::string (*)(const std::string&)> layouts[] = {
        {"16 kHz mono", [](const std::string& wav) { return wav; }},
        {"48 kHz stereo float, converted", &asStereoFloat48k},
    };
    for (const auto& [layout, convert] : layouts) {
        const double wer = wordErrorRate(set, [&](const Utterance& u) { return convert(u.wav); });
        std::printf("librivox word error rate (%s): %.3f\n", layout, wer);
        EXPECT_LT(wer, 0.36) << layout;  // measured 0.324 at 16 kHz mono
    }
}

TEST_F(Recognition, SynthesisedSentencesEightAtOnce) {
    // All eight are sent together: each answer must be its own sentence.
    const double wer = wordErrorRate(spoken(), [](const Utterance& u) { return u.wav; });
    RecordProperty("word_error_rate", std::to_string(wer));
    std::printf("flite slt word error rate: %.3f\n", wer);
    EXPECT_LT(wer, 0.2);  // measured 0.156
}

TEST_F(Recognition, StreamedInPiecesGivesTheWordsOfTheUpload) {
    // An odd chunk size splits samples between chunks.
    for (const auto& u : spoken()) {
        EXPECT_EQ(stream(u.wav, 3201), uploaded(u.wav)) << u.reference;
    }
}

TEST_F(Recognition, TheAnswerIsAWrittenSentenceAndItsDurationTheAudioLength) {
    // A sentence the recogniser hears word for word, so the whole answer can be compared.
    const std::string wav = flite("i think we can meet in may");
    const auto [text, duration] = transcribe(wav);
    EXPECT_EQ(text, "I think we can meet in May.");
    EXPECT_NEAR(duration, static_cast<double>(wav.size() - 44) / 32000.0, 0.01);
    // Silence is recognised as nothing rather than failing.
    const auto [silentText, silentDuration] =
        transcribe(TestForms::wav16(std::vector<std::int16_t>(16000, 0), 16000));
    EXPECT_DOUBLE_EQ(silentDuration, 1.0);
    EXPECT_LE(WordErrorRate::words(silentText).size(), 1u);
}

}  // namespace
}  // namespace sayloft::test
