#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "core/audio/SilenceGate.h"

namespace sayloft {
namespace {

std::vector<std::int16_t> constant(std::size_t count, std::int16_t value) {
    return std::vector<std::int16_t>(count, value);
}

std::vector<std::int16_t> halves(std::size_t count, std::int16_t second) {
    std::vector<std::int16_t> samples(count, 0);
    std::fill(samples.begin() + static_cast<std::ptrdiff_t>(count / 2), samples.end(), second);
    return samples;
}

std::vector<std::int16_t> alternating(std::size_t count, std::int16_t amplitude) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(i % 2 == 0 ? amplitude : -amplitude);
    }
    return samples;
}

TEST(SilenceGate, Borders) {
    struct Case {
        const char* name;
        std::vector<std::int16_t> samples;
        bool skipped;
        double rate = 16000.0;
    };
    const std::vector<Case> cases = {
        {"empty", {}, true},
        {"6399 loud samples are too short", constant(6399, 20000), true},
        {"6400 samples at exactly the threshold", constant(6400, 150), false},
        {"constant 149", constant(16000, 149), true},
        {"constant -149", constant(16000, -149), true},
        {"alternating +-200", alternating(16000, 200), false},
        {"half 0, half 212 (rms 149.9)", halves(16000, 212), true},
        {"half 0, half 213 (rms 150.6)", halves(16000, 213), false},
        {"full scale negative", constant(16000, -32768), false},
        // a nonsense rate: the length test does not apply, the loudness test decides
        {"loud at a NaN rate", constant(10, 1000), false, std::nan("")},
        {"quiet at a NaN rate", constant(10, 10), true, std::nan("")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SilenceGate::shouldSkip(c.samples, c.rate), c.skipped) << c.name;
    }
    EXPECT_EQ(SilenceGate::rms(constant(960000, -32768)), 32768.0);  // exact for 60 s full scale
}

}  // namespace
}  // namespace sayloft
