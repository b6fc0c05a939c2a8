// Streaming a dictation while the key is held, and the one-shot request as its fallback.

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "core/net/StreamFailed.h"

namespace sayloft::test {
namespace {

struct StreamingApp : FakeApp {
    StreamingApp() {
        service.streams = true;
        h.launch();
        tasks.runAll();  // the launch's ping
    }
    void hold(double seconds, bool release = true) {
        h.hold(seconds);
        if (release) {
            h.release();
        }
    }
};

class DictationStreamingTest : public ::testing::Test, protected StreamingApp {};

TEST_F(DictationStreamingTest, AHoldStreamsOnceItLastsTheMinimumAndItsTranscriptIsInserted) {
    service.scriptStream(TranscribeResult{"streamed words", 1.5});
    service.scriptText("one-shot words");  // must stay unused
    hold(1.5, false);
    ASSERT_EQ(service.opened.size(), 1u);
    const auto& stream = *service.opened[0];
    EXPECT_GT(stream.samples.size(), 20000u);  // the first moments, then block by block
    h.release();
    finishWork();
    EXPECT_TRUE(stream.finished);
    EXPECT_TRUE(service.calls.empty());
    EXPECT_EQ(h.pasteboard.text.value_or(""), "streamed words");
    EXPECT_EQ(stream.samples.size(), 24000u);  // every sample of the recording, once
    EXPECT_NE(h.latencyLogText().find("\taudio=1.5s\t"), std::string::npos);
}

TEST(DictationStreaming, AFailedStreamSendsTheWholeRecordingTheUsualWay) {
    struct Row {
        const char* name;
        std::exception_ptr stream;
        FakeTranscriptionService::Answer oneShot;
        const char* inserted;
        bool kept;          // the recording kept for the menu's retry
        bool streamsAgain;  // the next hold streams again
    };
    const auto failed = [](const char* what, bool notOffered) {
        return std::make_exception_ptr(StreamFailed(what, notOffered));
    };
    const TranscribeResult words{"words", 1.0};
    const Row rows[] = {
        {"refused or broken", failed("busy", false), words, "words", false, true},
        {"not offered", failed("no streams", true), words, "words", false, false},
        {"another failure", std::make_exception_ptr(std::runtime_error("odd")), words, "words",
         false, true},
        {"the fallback fails too", failed("reset", false), APIError::network, "", true, true},
        {"the fallback is unauthorized", failed("401", false), APIError::unauthorized, "", false,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamingApp app;
        auto& [service, tasks, h] = static_cast<FakeApp&>(app);
        service.scriptStream(row.stream);
        service.script(row.oneShot);
        app.hold(1.0);
        app.finishWork();
        ASSERT_EQ(service.calls.size(), 1u);
        ASSERT_EQ(service.opened.size(), 1u);
        const auto& wav = service.calls[0].wav;
        std::vector<std::int16_t> sent((wav.size() - 44) / 2);
        std::memcpy(sent.data(), wav.data() + 44, sent.size() * 2);
        EXPECT_EQ(sent, service.opened[0]->samples);
        EXPECT_EQ(h.pasteboard.text.value_or(""), row.inserted);
        EXPECT_EQ(h.app->pending().has_value(), row.kept);

        h.keychain.saveToken("device-token");  // a 401 forgot it
        app.hold(0.5, false);
        EXPECT_EQ(service.opened.size(), row.streamsAgain ? 2u : 1u);
    }
}

// Past 60 s the recorder stops itself while the hold goes on (keep-alive ticks pass: the hold is
// short of the stuck-hold limit); the stream and its one-shot fallback carry the same 60 s.
TEST_F(DictationStreamingTest, ALongHoldSendsTheFirstSixtySeconds) {
    service.scriptStream(std::make_exception_ptr(StreamFailed("reset", false)));
    hold(75.0, false);
    EXPECT_FALSE(h.mic.running());
    EXPECT_TRUE(h.app->isRecording());
    EXPECT_EQ(h.panel.text, "🎤 Listening…");
    h.release();
    finishWork();
    ASSERT_EQ(service.calls.size(), 1u);
    EXPECT_EQ(service.calls[0].audioSeconds, 60.0);
    EXPECT_EQ(service.calls[0].wav.size(), 44u + 2 * Recorder::maxSamples);
    EXPECT_EQ(service.opened.at(0)->samples.size(), Recorder::maxSamples);
}

}  // namespace
}  // namespace sayloft::test
