#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sayloft {

// Microphone capture converted to 16 kHz mono 16-bit samples, and the WAV container the service
// receives.
class Recorder {
public:
    // Wraps signed 16-bit mono samples in a canonical 44-byte RIFF/WAVE header: exactly
    // 44 + 2 * samples.size() bytes, little-endian on every host. Throws std::length_error when
    // the sample count does not fit the 32-bit RIFF size and std::invalid_argument for a negative
    // rate; it never writes a wrapped header.
    static std::vector<std::uint8_t> encodeWav(std::span<const std::int16_t> samples,
                                               std::int32_t sampleRate);

    // The size encodeWav produces for sampleCount samples; throws std::length_error past the
    // largest size a RIFF header can state (36 + 2n must fit 32 bits).
    static std::size_t encodedWavSize(std::size_t sampleCount);

    static constexpr std::size_t wavHeaderSize = 44;
};

}  // namespace sayloft
