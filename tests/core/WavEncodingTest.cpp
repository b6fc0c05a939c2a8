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

TEST(WavEncoding, EmptyRecordingIsExactlyTheHeader) {
    const std::vector<std::uint8_t> expected = {
        'R',  'I',  'F', 'F', 36, 0, 0,   0,   'W', 'A',  'V',  'E',  'f',  'm',  't',
        ' ',  16,   0,   0,   0,  1, 0,   1,   0,   0x80, 0x3E, 0x00, 0x00, 0x00, 0x7D,
        0x00, 0x00, 2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,    0,    0};
    EXPECT_EQ(Recorder::encodeWav({}, 16000), expected);
}

TEST(WavEncoding, SixtySecondsAtSixteenKilohertzSizeTheirChunks) {
    const auto wav = Recorder::encodeWav(std::vector<std::int16_t>(960000, -1), 16000);
    ASSERT_EQ(wav.size(), 1920044u);
    EXPECT_EQ(u32At(wav, 4), 1920036u);
    EXPECT_EQ(u32At(wav, 40), 1920000u);
    EXPECT_EQ(wav.back(), 0xFF);
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
