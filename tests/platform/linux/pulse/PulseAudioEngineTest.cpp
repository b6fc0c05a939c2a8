// The microphone through a real PulseAudio server: the private one of scripts/desktop-session,
// whose default source is the monitor of the null sink "sayloft_mic". What a test plays into
// that sink is what the recorder hears.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BlockCounter.h"
#include "ChildProcess.h"
#include "TonePlayer.h"
#include "core/audio/Recorder.h"
#include "core/audio/RecorderFailure.h"
#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"

namespace sayloft {
namespace {

constexpr double outputRate = 16000.0;

struct Tone {
    double hz;
    double amplitude;
};

// Checks the tone's frequency (Goertzel: the share of the power at hz is near 1 for a clean
// tone) and level in the last half second of a capture, short of the resampler's tail: by then
// the tone that was playing before the capture began has certainly reached the microphone.
void expectTone(const std::vector<std::int16_t>& samples, Tone tone) {
    constexpr std::size_t window = 8000;
    constexpr std::size_t tail = 400;
    ASSERT_GE(samples.size(), window + tail);
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * tone.hz / outputRate);
    double previous = 0;
    double beforePrevious = 0;
    double total = 0;
    for (const std::int16_t sample :
         std::span(samples).subspan(samples.size() - window - tail, window)) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
        total += static_cast<double>(sample) * sample;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    // A pure sine of N samples puts N/2 * total power into its Goertzel bin.
    EXPECT_GT(power / (total * window / 2), 0.9) << tone.hz << " Hz";
    const double expectedRms = tone.amplitude / std::numbers::sqrt2 * 32767;
    EXPECT_NEAR(std::sqrt(total / window), expectedRms, expectedRms * 0.1);
}

// Records `blocks` blocks through the real Recorder once the microphone has heard `tone` begin,
// so that nothing of an earlier tone can be in the capture.
std::vector<std::int16_t> recordTone(Recorder& recorder, test::BlockCounter& counter,
                                     test::TonePlayer& player, Tone tone, std::size_t blocks = 18) {
    EXPECT_TRUE(player.playBurst(tone.hz, tone.amplitude, 480, true)) << "the tone never played";
    const std::size_t before = counter.blocks();
    recorder.start();
    EXPECT_TRUE(counter.waitFor(before + blocks)) << "the microphone delivered too few blocks";
    return recorder.stop();
}

// What pactl says, without its line end; empty when it fails.
std::string pactl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output = test::runProgram(argv).value_or("");
    return output.substr(0, output.find_last_not_of("\n ") + 1);
}

class PulseAudioEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the PulseAudio server of scripts/desktop-session";
        }
    }
    std::shared_ptr<PulseConnection> connection = std::make_shared<PulseConnection>();
    test::BlockCounter counter;
    Recorder recorder{counter.wrap(PulseAudioEngine::factory(connection))};
};

TEST_F(PulseAudioEngineTest, EachRecordingHearsTheTonePlayingThenAtItsFrequencyAndLevel) {
    EXPECT_EQ(PulseAudioEngine(connection).inputFormat().sampleRate, 48000.0);
    EXPECT_EQ(PulseAudioEngine(connection).inputFormat().channels, 2u);
    // Different tones in turn: a capture that kept audio from an earlier one, or missed the
    // start of its own, fails the frequency check.
    const Tone tones[] = {{1000, 0.5}, {440, 0.25}, {1500, 0.4}, {1000, 0.5}};
    test::TonePlayer player("sayloft_mic");
    // A null sink that was idle delivers its first audio in bursts up to about 2 s late; one
    // discarded capture of 3 s lets the player's stream settle before anything is measured.
    recordTone(recorder, counter, player, tones[0], 36);
    const pa_context* firstContext = nullptr;
    for (const Tone tone : tones) {
        SCOPED_TRACE(tone.hz);
        expectTone(recordTone(recorder, counter, player, tone), tone);
        PulseConnection::Lock lock(*connection);
        firstContext = firstContext != nullptr ? firstContext : connection->context();
        EXPECT_EQ(connection->context(), firstContext) << "the server connection was not kept";
    }
}

TEST_F(PulseAudioEngineTest, StopRightAfterTheLastSoundKeepsAllOfIt) {
    test::TonePlayer player("sayloft_mic");
    constexpr double amplitude = 0.5;
    // Lengths whose ends fall at different points of a block of the engine: a capture that lost
    // its partial block or the audio still on its way passes one of them only by chance.
    for (const double seconds : {0.30, 0.55, 0.81, 1.07}) {
        SCOPED_TRACE(seconds);
        const std::size_t before = counter.blocks();
        recorder.start();
        ASSERT_TRUE(counter.waitFor(before + 1)) << "the capture did not begin";
        ASSERT_TRUE(player.playBurst(1000, amplitude, static_cast<std::size_t>(seconds * 48000)));
        const auto samples = recorder.stop();  // well within 20 ms of the last sample played
        // Seconds from the first to the last sample above half of the tone's peak.
        const auto loud = [](std::int16_t sample) { return std::abs(sample) > amplitude * 16384; };
        const auto first = std::find_if(samples.begin(), samples.end(), loud);
        const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
        EXPECT_NEAR(first < last ? static_cast<double>(last - first) / outputRate : 0, seconds,
                    0.010);
    }
}

TEST_F(PulseAudioEngineTest, ARecordingTakesTheFormatOfTheSourceThatIsDefaultThen) {
    // A second microphone, mono at 44.1 kHz, made the default for one recording.
    const std::string module = pactl({"load-module", "module-null-sink",
                                      "sink_name=sayloft_mono_mic", "rate=44100", "channels=1"});
    ASSERT_FALSE(module.empty());
    struct Restore {
        std::string module;
        ~Restore() {
            pactl({"set-default-source", "sayloft_mic.monitor"});
            pactl({"unload-module", module});
        }
    } restore{module};
    pactl({"set-default-source", "sayloft_mono_mic.monitor"});

    PulseAudioEngine mono(connection);
    EXPECT_EQ(mono.inputFormat().sampleRate, 44100.0);
    EXPECT_EQ(mono.inputFormat().channels, 1u);
    const Tone tone{700, 0.3};
    test::TonePlayer player("sayloft_mono_mic", 44100);
    expectTone(recordTone(recorder, counter, player, tone), tone);
}

TEST_F(PulseAudioEngineTest, BlocksHaveTheAskedSizeAndNoneArrivesAfterTheTapIsGone) {
    // Small blocks, so that one read from the server holds several and an engine that went on
    // delivering after a stop inside the tap would show it.
    constexpr std::size_t frames = 100;
    std::atomic<int> wrongSizes{0};
    std::atomic<int> stoppingBlocks{0};
    std::atomic<bool> removed{false};
    std::atomic<int> lateRemoved{0};
    const auto check = [&](std::span<const float> block, std::size_t asked) {
        wrongSizes += block.size() != 2 * asked ? 1 : 0;  // the microphone is stereo
    };

    PulseAudioEngine stopping(connection);  // stops itself from inside its tap at block 3
    PulseAudioEngine removing(connection);  // its tap is removed from this thread
    PulseAudioEngine witness(connection);   // runs on, so that the test can wait for time to pass
    test::BlockCounter removingBlocks;
    ASSERT_EQ(stopping.inputFormat().channels, 2u);
    removing.inputFormat();
    witness.inputFormat();

    stopping.installTap(frames, [&](std::span<const float> block) {
        check(block, frames);
        if (++stoppingBlocks == 3) {
            stopping.removeTap();
            stopping.stop();
        }
    });
    removing.installTap(frames, [&](std::span<const float>) {
        lateRemoved += removed ? 1 : 0;
        removingBlocks.count();
    });
    witness.installTap(4096, [&](std::span<const float> block) {
        check(block, 4096);
        counter.count();
    });
    stopping.start();
    removing.start();
    witness.start();
    ASSERT_TRUE(removingBlocks.waitFor(5));
    removing.removeTap();
    removed = true;
    ASSERT_TRUE(counter.waitFor(counter.blocks() + 4));  // about a third of a second

    EXPECT_EQ(stoppingBlocks, 3);
    EXPECT_EQ(lateRemoved, 0);
    EXPECT_EQ(wrongSizes, 0);
    removing.stop();
    witness.stop();
    stopping.stop();  // a second stop is harmless
}

// Without a server there is no input device, and a failed connection is tried afresh.
TEST(PulseNoServer, IsNoInputDevice) {
    auto connection =
        std::make_shared<PulseConnection>("unix:/nonexistent/sayloft-no-pulse/native");
    PulseAudioEngine engine(connection);
    EXPECT_EQ(engine.inputFormat().channels, 0u);
    Recorder recorder(PulseAudioEngine::factory(connection));
    for (const auto& start : std::vector<std::function<void()>>{
             [&] { engine.start(); }, [&] { recorder.start(); }, [&] { recorder.start(); }}) {
        try {
            start();
            ADD_FAILURE() << "started without a server";
        } catch (const RecorderFailure& failure) {
            EXPECT_EQ(failure.error, RecorderError::noInputDevice);
        }
        EXPECT_TRUE(recorder.stop().empty());
    }
}

}  // namespace
}  // namespace sayloft
