#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sayloft {

// PCM audio read from a WAV file, in the layout the file declared.
struct DecodedWav {
    std::uint32_t sampleRate = 0;     // Hz, as the header states (> 0)
    std::uint16_t channels = 0;       // >= 1
    std::uint16_t bitsPerSample = 0;  // 8, 16, 24 or 32 (or 64 for double floats)
    bool isFloat = false;             // IEEE float samples
    std::vector<float> samples;       // interleaved, normalised to [-1, 1)

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }

    // True for the layout the service works in: 16 kHz, mono, 16-bit integer.
    bool isSpeechFormat() const {
        return sampleRate == 16000 && channels == 1 && bitsPerSample == 16 && !isFloat;
    }
};

}  // namespace sayloft
