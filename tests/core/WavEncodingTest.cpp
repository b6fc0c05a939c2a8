#include <cstdint>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/Recorder.h"

namespace sayloft {
namespace {

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t u16At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::string tagAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + 4));
}

TEST(WavEncoding, EmptyRecordingIsExactlyTheHeader) {
    const std::vector<std::uint8_t> expected = {
        'R',  'I',  'F', 'F', 36, 0, 0,   0,   'W', 'A',  'V',  'E',  'f',  'm',  't',
        ' ',  16,   0,   0,   0,  1, 0,   1,   0,   0x80, 0x3E, 0x00, 0x00, 0x00, 0x7D,
        0x00, 0x00, 2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,    0,    0};
    EXPECT_EQ(Recorder::encodeWav({}, 16000), expected);
}

TEST(WavEncoding, OneNegativeSample) {
    const std::vector<std::int16_t> samples = {-1};
    const auto wav = Recorder::encodeWav(samples, 16000);
    ASSERT_EQ(wav.size(), 46u);
    EXPECT_EQ(u32At(wav, 4), 38u);
    EXPECT_EQ(u32At(wav, 40), 2u);
    EXPECT_EQ(wav[44], 0xFF);
    EXPECT_EQ(wav[45], 0xFF);
}

TEST(WavEncoding, SixtySecondsAtSixteenKilohertz) {
    std::vector<std::int16_t> samples(960000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(i * 7919);
    }
    const auto wav = Recorder::encodeWav(samples, 16000);
    ASSERT_EQ(wav.size(), 1920044u);
    EXPECT_EQ(tagAt(wav, 0), "RIFF");
    EXPECT_EQ(u32At(wav, 4), 1920036u);
    EXPECT_EQ(tagAt(wav, 8), "WAVE");
    EXPECT_EQ(tagAt(wav, 12), "fmt ");
    EXPECT_EQ(u32At(wav, 16), 16u);
    EXPECT_EQ(u16At(wav, 20), 1);
    EXPECT_EQ(u16At(wav, 22), 1);
    EXPECT_EQ(u32At(wav, 24), 16000u);
    EXPECT_EQ(u32At(wav, 28), 32000u);
    EXPECT_EQ(u16At(wav, 32), 2);
    EXPECT_EQ(u16At(wav, 34), 16);
    EXPECT_EQ(tagAt(wav, 36), "data");
    EXPECT_EQ(u32At(wav, 40), 1920000u);
    for (std::size_t i :
         {std::size_t{0}, std::size_t{1}, std::size_t{480000}, std::size_t{959999}}) {
        EXPECT_EQ(static_cast<std::int16_t>(u16At(wav, 44 + 2 * i)), samples[i]) << "sample " << i;
    }
}

TEST(WavEncoding, SamplesAreLittleEndianAndTheRateIsWrittenAsGiven) {
    const std::vector<std::int16_t> samples = {0x1234, -32768, 32767};
    const auto wav = Recorder::encodeWav(samples, 44100);
    EXPECT_EQ(std::vector<std::uint8_t>(wav.begin() + 44, wav.end()),
              (std::vector<std::uint8_t>{0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F}));
    EXPECT_EQ(u32At(wav, 24), 44100u);
    EXPECT_EQ(u32At(wav, 28), 88200u);
    EXPECT_EQ(u32At(Recorder::encodeWav({}, 2147483647), 28), 4294967294u);
}

TEST(WavEncoding, SizesPastTheRiffLimitFailLoudly) {
    // 36 + 2n <= 2^32 - 1  <=>  n <= 2147483629
    EXPECT_EQ(Recorder::encodedWavSize(2147483629u), std::size_t{4294967302});
    EXPECT_THROW(Recorder::encodedWavSize(2147483630u), std::length_error);
    EXPECT_THROW(Recorder::encodedWavSize(SIZE_MAX), std::length_error);
    EXPECT_THROW(Recorder::encodeWav({}, -1), std::invalid_argument);
}

}  // namespace
}  // namespace sayloft
