#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/PcmConverter.h"

namespace sayloft {
namespace {

std::vector<float> tone(double frequency, double rate, double seconds, unsigned channels,
                        float amplitude) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<float> samples(frames * channels);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const auto value =
            static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency *
                                                    static_cast<double>(frame) / rate));
        for (unsigned channel = 0; channel < channels; ++channel) {
            samples[frame * channels + channel] = value;
        }
    }
    return samples;
}

// RMS in 16-bit units, leaving out the resampler's settling at both ends.
double steadyRms(const std::vector<std::int16_t>& samples) {
    const std::size_t margin = 800;
    double sum = 0;
    for (std::size_t i = margin; i + margin < samples.size(); ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(samples.size() - 2 * margin));
}

std::vector<std::int16_t> convert(const std::vector<float>& input, double rate, unsigned channels) {
    std::vector<std::int16_t> out;
    PcmConverter converter(rate, channels);
    converter.process(input, out);
    converter.flush(out);
    return out;
}

TEST(PcmConverter, KeepsTheLevelOfASpeechBandTone) {
    for (const double rate : {48000.0, 44100.0, 22050.0, 8000.0}) {
        const auto out = convert(tone(1000, rate, 1.0, 2, 0.5f), rate, 2);
        const double expected = 0.5 * 32768 / std::numbers::sqrt2;
        const double errorDb = 20 * std::log10(steadyRms(out) / expected);
        EXPECT_LT(std::abs(errorDb), 0.1) << "at " << rate << " Hz";
    }
}

TEST(PcmConverter, RemovesWhatSixteenKilohertzCannotHold) {
    const auto out = convert(tone(10000, 48000, 1.0, 1, 0.5f), 48000, 1);
    const double inputRms = 0.5 * 32768 / std::numbers::sqrt2;
    EXPECT_LT(20 * std::log10(std::max(steadyRms(out), 1e-9) / inputRms), -60.0);
}

TEST(PcmConverter, OutputLengthFollowsTheRatio) {
    struct Case {
        double rate;
        std::size_t frames;
    };
    for (const Case c : {Case{48000, 48000}, Case{44100, 44100 * 3 + 17}, Case{8000, 12345},
                         Case{96000, 7}, Case{16000, 999}}) {
        std::vector<float> input(c.frames, 0.1f);
        const auto out = convert(input, c.rate, 1);
        const double expected = static_cast<double>(c.frames) * 16000.0 / c.rate;
        EXPECT_LE(std::abs(static_cast<double>(out.size()) - expected), 1.0)
            << c.rate << " Hz, " << c.frames << " frames -> " << out.size();
    }
}

TEST(PcmConverter, BlockByBlockEqualsOneShot) {
    const auto input = tone(440, 44100, 2.0, 2, 0.3f);
    const auto oneShot = convert(input, 44100, 2);

    std::vector<std::int16_t> blocks;
    PcmConverter converter(44100, 2);
    for (std::size_t at = 0; at < input.size(); at += 4096 * 2) {
        const std::size_t length = std::min<std::size_t>(4096 * 2, input.size() - at);
        converter.process(std::span<const float>(input).subspan(at, length), blocks);
    }
    converter.flush(blocks);
    EXPECT_EQ(blocks, oneShot);
}

TEST(PcmConverter, ChannelsAreAveraged) {
    // left +0.5, right -0.5 cancel; left 0.5, right 0 is half
    const std::vector<float> opposite = {0.5f, -0.5f, 0.5f, -0.5f};
    EXPECT_EQ(convert(opposite, 16000, 2), (std::vector<std::int16_t>{0, 0}));
    const std::vector<float> oneSided = {0.5f, 0.0f, 0.5f, 0.0f, 0.5f};  // last frame partial
    EXPECT_EQ(convert(oneSided, 16000, 2), (std::vector<std::int16_t>{8192, 8192}));
}

TEST(PcmConverter, SixteenBitScaleRoundsAndClips) {
    EXPECT_EQ(PcmConverter::toInt16(1.0f), 32767);
    EXPECT_EQ(PcmConverter::toInt16(-1.0f), -32768);
    EXPECT_EQ(PcmConverter::toInt16(7.0f), 32767);
    EXPECT_EQ(PcmConverter::toInt16(-7.0f), -32768);
    EXPECT_EQ(PcmConverter::toInt16(std::nanf("")), 0);
    EXPECT_EQ(PcmConverter::toInt16(1234.0f / 32768.0f), 1234);
    EXPECT_THROW(PcmConverter(0, 1), std::invalid_argument);
    EXPECT_THROW(PcmConverter(16000, 0), std::invalid_argument);
    EXPECT_THROW(PcmConverter(std::nan(""), 1), std::invalid_argument);
}

}  // namespace
}  // namespace sayloft
