#pragma once

#include <cstdint>
#include <span>

namespace sayloft {

// Decides whether a finished recording is worth sending: empty, shorter than Config::minDuration
// or quieter than Config::minRMS (root mean square of the raw 16-bit values over the whole
// recording) is skipped. One pass, no allocation.
struct SilenceGate {
    static bool shouldSkip(std::span<const std::int16_t> samples, double sampleRate);

    // The root mean square of the samples in 16-bit units; 0 for no samples.
    static double rms(std::span<const std::int16_t> samples);
};

}  // namespace sayloft
