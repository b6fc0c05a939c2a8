#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/PcmConverter.h"
#include "core/audio/Recorder.h"
#include "core/audio/SilenceGate.h"
#include "core/audio/WavReader.h"

namespace sayloft {
namespace {

// value in `size` little-endian bytes
std::string le(std::uint64_t value, int size) {
    std::string out;
    for (int i = 0; i < size; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

std::string bytes(std::initializer_list<std::uint8_t> values) {
    return std::string(values.begin(), values.end());
}

// A WAV with the given header fields and data, behind an unknown chunk of odd size (padded);
// extensible writes the 40-byte fmt chunk, dataSize overrides the size the data chunk declares.
std::string wav(std::uint16_t format, std::uint16_t channels, std::uint32_t rate,
                std::uint16_t bits, const std::string& data, bool extensible = false,
                std::uint32_t dataSize = UINT32_MAX) {
    std::string fmt = le(extensible ? 0xFFFE : format, 2) + le(channels, 2) + le(rate, 4) +
                      le(rate * channels * bits / 8, 4) + le(channels * bits / 8, 2) + le(bits, 2);
    if (extensible) {  // the sub-format GUID begins with the format code
        fmt += le(22, 2) + le(bits, 2) + le(0, 4) + le(format, 2) +
               bytes({0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
    }
    // The RIFF size is 0: writers often get it wrong, and the reader must not care.
    return "RIFF" + le(0, 4) + "WAVELIST" + le(3, 4) + bytes({'a', 'b', 'c', 0}) + "fmt " +
           le(fmt.size(), 4) + fmt + "data" +
           le(dataSize == UINT32_MAX ? data.size() : dataSize, 4) + data;
}

std::optional<DecodedWav> decode(const std::string& file, std::string* error = nullptr) {
    return WavReader::decode(std::vector<std::uint8_t>(file.begin(), file.end()), error);
}

// The canonical 44-byte header of 16-bit mono PCM, then the samples little-endian; what is
// encoded reads back sample-exact.
TEST(WavEncoding, HeaderSamplesAndLimits) {
    const auto encoded = [](const std::vector<std::int16_t>& samples, std::int32_t rate) {
        const auto wav = Recorder::encodeWav(samples, rate);
        return std::string(wav.begin(), wav.end());
    };
    const auto header = [](std::uint32_t rate, std::uint32_t dataSize) {
        return "RIFF" + le(36 + dataSize, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
               le(rate, 4) + le(2 * rate, 4) + le(2, 2) + le(16, 2) + "data" + le(dataSize, 4);
    };
    EXPECT_EQ(encoded({}, 16000), header(16000, 0));
    EXPECT_EQ(encoded({0x1234, -32768, 32767}, 44100),
              header(44100, 6) + bytes({0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F}));
    EXPECT_EQ(encoded({}, 2147483647), header(2147483647, 0));
    const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 12345};
    const auto decoded = WavReader::decode(Recorder::encodeWav(samples, 16000), nullptr);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->isSpeechFormat());
    EXPECT_EQ(PcmConverter::toSpeechSamples(*decoded), samples);
    EXPECT_EQ(WavReader::decode(Recorder::encodeWav({}, 16000), nullptr)->frames(), 0u);
    const auto minute = encoded(std::vector<std::int16_t>(960000, -1), 16000);
    EXPECT_EQ(minute.size(), 1920044u);
    EXPECT_EQ(minute.substr(0, 44), header(16000, 1920000));
    // past the RIFF limit it fails loudly: 36 + 2n <= 2^32 - 1  <=>  n <= 2147483629
    EXPECT_EQ(Recorder::encodedWavSize(2147483629u), std::size_t{4294967302});
    EXPECT_THROW(Recorder::encodedWavSize(2147483630u), std::length_error);
    EXPECT_THROW(Recorder::encodedWavSize(SIZE_MAX), std::length_error);
    EXPECT_THROW(Recorder::encodeWav({}, -1), std::invalid_argument);
}

TEST(WavReader, ReadsEveryCommonLayout) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<float> expected;
    };
    const auto f32 = [](float value) { return le(std::bit_cast<std::uint32_t>(value), 4); };
    const auto f64 = [](double value) { return le(std::bit_cast<std::uint64_t>(value), 8); };
    const std::vector<Case> cases = {
        {"8-bit unsigned", wav(1, 1, 8000, 8, bytes({0x80, 0xC0, 0x00})), {0.0f, 0.5f, -1.0f}},
        {"16-bit", wav(1, 1, 16000, 16, bytes({0x00, 0x40, 0x00, 0x80})), {0.5f, -1.0f}},
        {"24-bit", wav(1, 1, 48000, 24, bytes({0, 0, 0x40, 0, 0, 0xC0})), {0.5f, -0.5f}},
        {"32-bit", wav(1, 1, 48000, 32, bytes({0, 0, 0, 0x40, 0, 0, 0, 0x80})), {0.5f, -1.0f}},
        {"32-bit at full scale stays below 1",
         wav(1, 1, 48000, 32, le(0x7FFFFFFF, 4)),
         {8388607.0f / 8388608.0f}},
        {"32-bit float", wav(3, 1, 44100, 32, f32(0.25f) + f32(-0.5f)), {0.25f, -0.5f}},
        {"64-bit float", wav(3, 1, 44100, 64, f64(0.75) + f64(-1.0)), {0.75f, -1.0f}},
        {"extensible 16-bit stereo",
         wav(1, 2, 48000, 16, bytes({0, 0x40, 0, 0xC0}), true),
         {0.5f, -0.5f}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto decoded = decode(c.bytes, &error);
        ASSERT_TRUE(decoded.has_value()) << c.name << ": " << error;
        EXPECT_EQ(decoded->samples, c.expected) << c.name;
    }
}

TEST(WavReader, BadFilesGetAReason) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string reasonContains;
    };
    std::string noData = wav(1, 1, 16000, 16, "");
    noData.resize(noData.size() - 8);  // drop the data chunk header
    const std::vector<Case> cases = {
        {"empty", "", "not a RIFF/WAVE file"},
        {"text", "hello world!", "not a RIFF/WAVE file"},
        {"compressed", wav(0x55, 1, 16000, 16, ".."), "format 0x0055"},
        {"12-bit", wav(1, 1, 16000, 12, ".."), "12-bit integer"},
        {"no channels", wav(1, 0, 16000, 16, ".."), "no channels"},
        {"rate 0", wav(1, 1, 0, 16, ".."), "sample rate of 0"},
        {"truncated data", wav(1, 1, 16000, 16, "1234", false, 1000),
         "header says 1000 bytes, file has 4"},
        {"half a frame", wav(1, 2, 16000, 16, "123456"), "whole number"},
        {"no data chunk", noData, "no data chunk"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(decode(c.bytes, &error).has_value()) << c.name;
        EXPECT_NE(error.find(c.reasonContains), std::string::npos) << c.name << ": " << error;
    }
}

// A tone at half scale, the same on every channel.
std::vector<float> tone(double frequency, double rate, double seconds, unsigned channels) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<float> samples(frames * channels);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<float>(
            0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / rate));
        for (unsigned channel = 0; channel < channels; ++channel) {
            samples[frame * channels + channel] = value;
        }
    }
    return samples;
}

std::vector<std::int16_t> convert(const std::vector<float>& input, double rate, unsigned channels) {
    std::vector<std::int16_t> out;
    PcmConverter converter(rate, channels);
    converter.process(input, out);
    converter.flush(out);
    return out;
}

// The level of a tone at half scale after conversion, in dB against its level before, leaving
// out the resampler's settling at both ends.
double gainDb(double frequency, double rate, unsigned channels) {
    const auto out = convert(tone(frequency, rate, 1.0, channels), rate, channels);
    const std::size_t margin = 800;
    double sum = 0;
    for (std::size_t i = margin; i + margin < out.size(); ++i) {
        sum += static_cast<double>(out[i]) * out[i];
    }
    const double rms = std::sqrt(sum / static_cast<double>(out.size() - 2 * margin));
    return 20 * std::log10(std::max(rms, 1e-9) / (0.5 * 32768 / std::numbers::sqrt2));
}

TEST(PcmConverter, KeepsTheSpeechBandAndRemovesWhatSixteenKilohertzCannotHold) {
    for (const double rate : {48000.0, 44100.0, 22050.0, 8000.0}) {
        EXPECT_LT(std::abs(gainDb(1000, rate, 2)), 0.1) << "at " << rate << " Hz";
    }
    EXPECT_LT(gainDb(10000, 48000, 1), -60.0);
}

TEST(PcmConverter, OutputLengthFollowsTheRatio) {
    struct Case {
        double rate;
        std::size_t frames;
    };
    for (const Case c : {Case{48000, 48000}, Case{44100, 44100 * 3 + 17}, Case{8000, 12345},
                         Case{96000, 7}, Case{16000, 999}}) {
        const auto out = convert(std::vector<float>(c.frames, 0.1f), c.rate, 1);
        const double expected = static_cast<double>(c.frames) * 16000.0 / c.rate;
        EXPECT_LE(std::abs(static_cast<double>(out.size()) - expected), 1.0)
            << c.rate << " Hz, " << c.frames << " frames -> " << out.size();
    }
}

TEST(PcmConverter, BlockByBlockEqualsOneShot) {
    const auto input = tone(440, 44100, 2.0, 2);
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
    // left +0.5, right -0.5 cancel; left 0.5, right 0 is half; a last partial frame is dropped
    EXPECT_EQ(convert({0.5f, -0.5f, 0.5f, -0.5f}, 16000, 2), (std::vector<std::int16_t>{0, 0}));
    EXPECT_EQ(convert({0.5f, 0.0f, 0.5f, 0.0f, 0.5f}, 16000, 2),
              (std::vector<std::int16_t>{8192, 8192}));
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

using Samples = std::vector<std::int16_t>;

Samples halves(std::size_t count, std::int16_t second) {
    Samples samples(count / 2, 0);
    samples.resize(count, second);
    return samples;
}

Samples alternating(std::size_t count, std::int16_t amplitude) {
    Samples samples(count, amplitude);
    for (std::size_t i = 1; i < count; i += 2) {
        samples[i] = static_cast<std::int16_t>(-amplitude);
    }
    return samples;
}

TEST(SilenceGate, Borders) {
    struct Case {
        const char* name;
        Samples samples;
        bool skipped;
        double rate = 16000.0;
    };
    const std::vector<Case> cases = {
        {"empty", {}, true},
        {"6399 loud samples are too short", Samples(6399, 20000), true},
        {"6400 samples at exactly the threshold", Samples(6400, 150), false},
        {"constant 149", Samples(16000, 149), true},
        {"constant -149", Samples(16000, -149), true},
        {"alternating +-200", alternating(16000, 200), false},
        {"half 0, half 212 (rms 149.9)", halves(16000, 212), true},
        {"half 0, half 213 (rms 150.6)", halves(16000, 213), false},
        {"full scale negative", Samples(16000, -32768), false},
        // a nonsense rate: the length test does not apply, the loudness test decides
        {"loud at a NaN rate", Samples(10, 1000), false, std::nan("")},
        {"quiet at a NaN rate", Samples(10, 10), true, std::nan("")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SilenceGate::shouldSkip(c.samples, c.rate), c.skipped) << c.name;
    }
    EXPECT_EQ(SilenceGate::rms(Samples(960000, -32768)), 32768.0);  // exact for 60 s full scale
}

}  // namespace
}  // namespace sayloft
