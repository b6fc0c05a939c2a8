#include "core/audio/SilenceGate.h"

#include <cmath>

#include "core/config/Config.h"

namespace sayloft {

double SilenceGate::rms(std::span<const std::int16_t> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    // Each square is at most 2^30, so the sum of squares is an exact integer; summing in 64-bit
    // integers gives the same value as an in-order double sum wherever that one is exact (up to
    // 2^23 samples, far beyond 60 s at 16 kHz) and lets the compiler vectorise the loop.
    std::int64_t sum = 0;
    for (const std::int16_t sample : samples) {
        sum += static_cast<std::int32_t>(sample) * sample;
    }
    return std::sqrt(static_cast<double>(sum) / static_cast<double>(samples.size()));
}

bool SilenceGate::shouldSkip(std::span<const std::int16_t> samples, double sampleRate) {
    if (samples.empty()) {
        return true;
    }
    const double duration = static_cast<double>(samples.size()) / sampleRate;
    // A NaN duration compares false and the gate goes on to the loudness test.
    if (duration < Config::minDuration) {
        return true;
    }
    return rms(samples) < Config::minRMS;
}

}  // namespace sayloft
