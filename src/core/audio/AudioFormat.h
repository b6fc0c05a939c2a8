#pragma once

#include <cstdint>

namespace sayloft {

// The native format of an audio input: interleaved 32-bit float frames at this rate with this
// many channels. A rate that is not greater than 0 or a channel count of 0 means there is no
// usable input.
struct AudioFormat {
    double sampleRate = 0.0;  // Hz
    std::uint32_t channels = 0;
};

}  // namespace sayloft
