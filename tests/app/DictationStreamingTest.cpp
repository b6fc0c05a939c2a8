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

class DictationStreamingTest : public ::testing::Test, protected FakeApp {
protected:
    DictationStreamingTest() {
        service.streams = true;
        h.launch();
        tasks.runAll();  // the launch's ping
    }

    // Press, speak for `seconds` while the clock runs, and (unless told not to) release.
    void hold(double seconds, bool release = true, double amplitude = 0.3) {
        h.press();
        for (double held = 0; held < seconds - 1e-9; held += 0.1) {
            h.speak(0.1, amplitude);
            h.loop.advance(0.1);
        }
        if (release) {
            h.release();
        }
    }
    // The samples of the WAV the one-shot path sent (or would have).
    static std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& wav) {
        std::vector<std::int16_t> samples((wav.size() - 44) / 2);
        std::memcpy(samples.data(), wav.data() + 44, samples.size() * 2);
        return samples;
    }
};

TEST_F(DictationStreamingTest, AHoldStreamsOnceItLastsTheMinimumAndItsTranscriptIsInserted) {
    hold(0.3);  // shorter than the minimum: nothing streams (and the gate drops it)
    EXPECT_TRUE(service.streamsOpened().empty());

    service.scriptStream(TranscribeResult{"streamed words", 1.5});
    service.scriptText("one-shot words");  // must stay unused
    hold(1.5, false);
    ASSERT_EQ(service.streamsOpened().size(), 1u);
    const auto stream = service.streamsOpened()[0];
    EXPECT_GT(stream->received().size(), 20000u);  // the first moments, then block by block
    h.release();
    finishTranscription();
    EXPECT_TRUE(stream->wasFinished());
    EXPECT_TRUE(service.calls().empty());
    EXPECT_EQ(h.pasteboard.text.value_or(""), "streamed words");
    EXPECT_EQ(stream->received().size(), 24000u);  // every sample of the recording, once
    EXPECT_NE(h.latencyLogText().find("\taudio=1.5s\t"), std::string::npos);
}

TEST_F(DictationStreamingTest, AFailedStreamSendsTheWholeRecordingTheUsualWay) {
    struct Row {
        const char* name;
        FakeStreamRecord::Answer stream;
        FakeTranscriptionService::Answer oneShot;
        const char* inserted;  // nullptr: nothing
        bool kept;             // the recording kept for the menu's retry
        bool streamsAgain;     // the next hold streams again
    };
    const auto failure = [](auto error) { return std::make_exception_ptr(error); };
    const Row rows[] = {
        {"refused or broken", failure(StreamFailed("busy", false)), TranscribeResult{"words", 1.0},
         "words", false, true},
        {"not offered", failure(StreamFailed("no streams", true)), TranscribeResult{"words", 1.0},
         "words", false, false},
        {"another failure", failure(std::runtime_error("odd")), TranscribeResult{"words", 1.0},
         "words", false, true},
        {"the fallback fails too", failure(StreamFailed("reset", false)), APIError::network,
         nullptr, true, true},
        {"the fallback is unauthorized", failure(StreamFailed("401", false)),
         APIError::unauthorized, nullptr, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeApp app;
        auto& [rowService, rowTasks, rh] = app;
        rowService.streams = true;
        rh.launch();
        rowService.scriptStream(row.stream);
        rowService.script(row.oneShot);
        rh.press();
        for (int step = 0; step < 10; ++step) {
            rh.speak(0.1);
            rh.loop.advance(0.1);
        }
        rh.release();
        app.finishTranscription();
        const auto calls = rowService.calls();
        ASSERT_EQ(calls.size(), 1u);
        ASSERT_EQ(rowService.streamsOpened().size(), 1u);
        EXPECT_EQ(samplesOf(calls[0].wav), rowService.streamsOpened()[0]->received());
        EXPECT_EQ(rh.pasteboard.text.value_or(""), row.inserted ? row.inserted : "");
        EXPECT_EQ(rh.app->pending().has_value(), row.kept);

        rh.keychain.saveToken("device-token");  // a 401 forgot it
        rh.press();
        rh.loop.advance(0.5);
        EXPECT_EQ(rowService.streamsOpened().size(), row.streamsAgain ? 2u : 1u);
        rh.release();
    }
}

TEST_F(DictationStreamingTest, AnAbortedOrSilentOrTokenlessHoldCancelsItsStream) {
    const auto lastStreamCancelled = [&] {
        const auto streams = service.streamsOpened();
        return !streams.empty() && streams.back()->wasCancelled() && !streams.back()->wasFinished();
    };
    hold(1.0, false);
    h.session.wake();  // aborts the hold
    h.settle();
    EXPECT_TRUE(lastStreamCancelled());
    hold(1.0, true, 0.001);  // dropped by the silence gate
    EXPECT_TRUE(lastStreamCancelled());
    hold(1.0, false);
    h.keychain.deleteToken();
    h.release();
    EXPECT_TRUE(lastStreamCancelled());
    finishTranscription();
    EXPECT_EQ(service.streamsOpened().size(), 3u);
    EXPECT_TRUE(service.calls().empty());
    EXPECT_FALSE(h.pasteboard.text.has_value());

    // Without a token when the hold reaches the minimum, nothing streams.
    hold(1.0);
    EXPECT_EQ(service.streamsOpened().size(), 3u);
}

TEST_F(DictationStreamingTest, ALongHoldStreamsTheSameSixtySecondsItWouldSend) {
    hold(62.0);
    finishTranscription();
    ASSERT_EQ(service.streamsOpened().size(), 1u);
    EXPECT_EQ(service.streamsOpened()[0]->received().size(), Recorder::maxSamples);
}

}  // namespace
}  // namespace sayloft::test
