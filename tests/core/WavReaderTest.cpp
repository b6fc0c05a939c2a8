#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/PcmConverter.h"
#include "core/audio/Recorder.h"
#include "core/audio/WavReader.h"

namespace sayloft {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void tag(Bytes& out, const char (&text)[5]) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(text[i]));
    }
}

// A WAV with the given header fields and raw data bytes; extensible writes the 40-byte fmt chunk.
Bytes wav(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
          const Bytes& data, bool extensible = false, std::uint32_t declaredDataSize = UINT32_MAX) {
    Bytes out;
    tag(out, "RIFF");
    put(out, 0, 4);  // writers often get this wrong; the reader must not care
    tag(out, "WAVE");
    tag(out, "LIST");  // an unknown chunk of odd size, padded
    put(out, 3, 4);
    out.insert(out.end(), {'a', 'b', 'c', 0});
    tag(out, "fmt ");
    put(out, extensible ? 40 : 16, 4);
    put(out, extensible ? 0xFFFE : format, 2);
    put(out, channels, 2);
    put(out, rate, 4);
    put(out, rate * channels * bits / 8, 4);
    put(out, channels * bits / 8, 2);
    put(out, bits, 2);
    if (extensible) {
        put(out, 22, 2);
        put(out, bits, 2);
        put(out, 0, 4);
        put(out, format, 2);  // sub-format GUID begins with the format code
        const std::uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        out.insert(out.end(), rest, rest + 14);
    }
    tag(out, "data");
    put(out, declaredDataSize == UINT32_MAX ? data.size() : declaredDataSize, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::optional<DecodedWav> decode(const Bytes& bytes, std::string* error = nullptr) {
    return WavReader::decode(bytes, error);
}

TEST(WavReader, ReadsEveryCommonLayout) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<float> expected;
    };
    Bytes float32;
    for (const float value : {0.25f, -0.5f}) {
        std::uint32_t raw = 0;
        std::memcpy(&raw, &value, 4);
        put(float32, raw, 4);
    }
    Bytes float64;
    for (const double value : {0.75, -1.0}) {
        std::uint64_t raw = 0;
        std::memcpy(&raw, &value, 8);
        put(float64, raw, 8);
    }
    const std::vector<Case> cases = {
        {"8-bit unsigned", wav(1, 1, 8000, 8, {0x80, 0xC0, 0x00}), {0.0f, 0.5f, -1.0f}},
        {"16-bit", wav(1, 1, 16000, 16, {0x00, 0x40, 0x00, 0x80}), {0.5f, -1.0f}},
        {"24-bit", wav(1, 1, 48000, 24, {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0}), {0.5f, -0.5f}},
        {"32-bit", wav(1, 1, 48000, 32, {0, 0, 0, 0x40, 0, 0, 0, 0x80}), {0.5f, -1.0f}},
        {"32-bit at full scale stays below 1",
         wav(1, 1, 48000, 32, {0xFF, 0xFF, 0xFF, 0x7F}),
         {8388607.0f / 8388608.0f}},
        {"32-bit float", wav(3, 1, 44100, 32, float32), {0.25f, -0.5f}},
        {"64-bit float", wav(3, 1, 44100, 64, float64), {0.75f, -1.0f}},
        {"extensible 16-bit stereo",
         wav(1, 2, 48000, 16, {0x00, 0x40, 0x00, 0xC0}, true),
         {0.5f, -0.5f}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto decoded = decode(c.bytes, &error);
        ASSERT_TRUE(decoded.has_value()) << c.name << ": " << error;
        EXPECT_EQ(decoded->samples, c.expected) << c.name;
    }
}

TEST(WavReader, OurOwnRecordingsComeBackSampleExact) {
    const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 12345};
    const auto decoded = decode(Recorder::encodeWav(samples, 16000));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->isSpeechFormat());
    EXPECT_EQ(decoded->frames(), samples.size());
    EXPECT_EQ(PcmConverter::toSpeechSamples(*decoded), samples);
    EXPECT_EQ(decode(Recorder::encodeWav({}, 16000))->frames(), 0u);
}

TEST(WavReader, BadFilesGetAReason) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string reasonContains;
    };
    Bytes noData = wav(1, 1, 16000, 16, {});
    noData.resize(noData.size() - 8);  // drop the data chunk header
    const std::vector<Case> cases = {
        {"empty", {}, "not a RIFF/WAVE file"},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'},
         "not a RIFF/WAVE file"},
        {"compressed", wav(0x55, 1, 16000, 16, {0, 0}), "format 0x0055"},
        {"12-bit", wav(1, 1, 16000, 12, {0, 0}), "12-bit integer"},
        {"no channels", wav(1, 0, 16000, 16, {0, 0}), "no channels"},
        {"rate 0", wav(1, 1, 0, 16, {0, 0}), "sample rate of 0"},
        {"truncated data", wav(1, 1, 16000, 16, {1, 2, 3, 4}, false, 1000),
         "header says 1000 bytes, file has 4"},
        {"half a frame", wav(1, 2, 16000, 16, {1, 2, 3, 4, 5, 6}), "whole number"},
        {"no data chunk", noData, "no data chunk"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(decode(c.bytes, &error).has_value()) << c.name;
        EXPECT_NE(error.find(c.reasonContains), std::string::npos) << c.name << ": " << error;
    }
}

}  // namespace
}  // namespace sayloft
