#include "core/audio/SilenceGate.h"

#include <cmath>

#include "core/config/Config.h"

namespace sayloft {

double SilenceGate::rms(std::span<const std::int16_t> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    // Each square is at most 2^30 and is exact in a double, as is the running sum for up to 2^23
    // samples, so the result does not depend on the order of addition.
    double sum = 0.0;
    for (const std::int16_t sample : samples) {
        const double value = sample;
        sum += value * value;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
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
