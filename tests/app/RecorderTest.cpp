#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/Recorder.h"
#include "core/audio/RecorderFailure.h"
#include "fakes/FakeMicrophone.h"

namespace sayloft::test {
namespace {

// A recorder on a fake microphone that starts out as a 48 kHz stereo input.
class RecorderTest : public ::testing::Test {
protected:
    FakeMicrophone mic;
    Recorder recorder{mic.factory()};
};

TEST(Recorder, ConvertsNativeFormatsTo16kHzMono) {
    for (const AudioFormat format :
         {AudioFormat{48000.0, 2}, AudioFormat{44100.0, 1}, AudioFormat{16000.0, 1}}) {
        FakeMicrophone mic;
        mic.format = format;
        Recorder recorder(mic.factory());
        recorder.start();
        EXPECT_TRUE(mic.tone(2.0));
        const auto samples = recorder.stop();
        // Two seconds in, two seconds out: nothing lost at block borders, the tail flushed.
        EXPECT_NEAR(double(samples.size()), 32000.0, 2.0) << format.sampleRate;
    }
}

TEST_F(RecorderTest, StopsItselfOnceMoreThan960000SamplesAreCollected) {
    mic.format = {16000.0, 1};
    recorder.start();
    const std::vector<float> block(4000, 0.25f);
    for (int i = 0; i < 240; ++i) {  // exactly 960,000 samples
        ASSERT_TRUE(mic.deliver(block));
    }
    EXPECT_TRUE(mic.running());
    EXPECT_TRUE(mic.deliver(block));  // 964,000: the tap stops the engine from the audio thread
    EXPECT_FALSE(mic.running());
    EXPECT_EQ(mic.tapRemovals, 1);
    EXPECT_FALSE(mic.deliver(block));
    const auto samples = recorder.stop();
    EXPECT_EQ(samples.size(), 964000u);
    EXPECT_EQ(samples.back(), 8192);
}

// Each start takes a new engine with the input of that moment and drops what was not taken;
// a second stop, or one without a start, returns nothing.
TEST_F(RecorderTest, EachStartIsANewRecordingFromTheInputOfThatMoment) {
    mic.format = {16000.0, 1};
    EXPECT_TRUE(recorder.stop().empty());
    recorder.start();
    mic.deliver(std::vector<float>(1000, 0.1f));
    recorder.start();
    mic.deliver(std::vector<float>(300, 0.1f));
    EXPECT_EQ(recorder.stop().size(), 300u);
    EXPECT_TRUE(recorder.stop().empty());
    mic.format = {44100.0, 1};  // the default input changed
    recorder.start();
    EXPECT_EQ(mic.enginesMade, 3);
    EXPECT_TRUE(mic.tone(1.0));
    EXPECT_NEAR(double(recorder.stop().size()), 16000.0, 2.0);
}

TEST_F(RecorderTest, StopKeepsWhatTheEngineHandsOnWhileStopping) {
    mic.format = {16000.0, 1};
    recorder.start();
    mic.deliver(std::vector<float>(4096, 0.1f));
    mic.heldAtStop = std::vector<float>(1500, 0.1f);  // the partial block and the audio in flight
    EXPECT_EQ(recorder.stop().size(), 4096u + 1500u);
    EXPECT_EQ(mic.tapRemovals, 1);
}

TEST(Recorder, NoUsableInputIsNoInputDevice) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const AudioFormat format : {AudioFormat{0.0, 2}, AudioFormat{44100.0, 0},
                                     AudioFormat{-48000.0, 1}, AudioFormat{nan, 1}}) {
        FakeMicrophone mic;
        mic.format = format;
        Recorder recorder(mic.factory());
        try {
            recorder.start();
            ADD_FAILURE() << "started with rate " << format.sampleRate;
        } catch (const RecorderFailure& failure) {
            EXPECT_EQ(failure.error, RecorderError::noInputDevice);
        }
        EXPECT_FALSE(mic.running());
        EXPECT_TRUE(recorder.stop().empty());
    }
    Recorder noAudioSystem([] { return std::unique_ptr<AudioEngine>(); });
    EXPECT_THROW(noAudioSystem.start(), RecorderFailure);
}

TEST_F(RecorderTest, ABlockArrivingDuringStopLandsWhollyOrNotAtAll) {
    mic.format = {16000.0, 1};
    for (int round = 0; round < 20; ++round) {
        recorder.start();
        std::atomic<int> delivered{0};
        std::jthread audio([&] {
            const std::vector<float> block(1000, 0.1f);
            while (mic.deliver(block)) {
                ++delivered;
            }
        });
        while (delivered.load() < 3) {
            std::this_thread::yield();
        }
        const auto samples = recorder.stop();
        audio.join();
        EXPECT_EQ(samples.size() % 1000, 0u);
        EXPECT_GE(samples.size(), 3000u);
    }
}

}  // namespace
}  // namespace sayloft::test
