#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/audio/DecodedWav.h"

struct soxr;

namespace sayloft {

// Streaming conversion of interleaved float frames at any rate and channel count to mono signed
// 16-bit at the output rate (16 kHz unless told otherwise): channels averaged, then resampled by
// libsoxr at high quality, then scaled by 32768, rounded and clipped. The resampler holds back a
// few milliseconds; flush() releases them at the end. Not thread-safe: one thread feeds it.
class PcmConverter {
public:
    // Throws std::invalid_argument for a rate that is not positive and finite or 0 channels.
    PcmConverter(double inputRate, unsigned channels, double outputRate = 16000.0);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Converts whole frames (a trailing partial frame is ignored) and appends the result to out.
    void process(std::span<const float> interleaved, std::vector<std::int16_t>& out);

    // Appends what the resampler still holds. Call once, after the last process().
    void flush(std::vector<std::int16_t>& out);

    // A whole decoded WAV in one call. Audio that already is 16 kHz mono 16-bit comes back
    // sample-exact, without resampling.
    static std::vector<std::int16_t> toSpeechSamples(const DecodedWav& wav);

    // The float-to-16-bit step: x * 32768, rounded to nearest, clipped to the 16-bit range.
    static std::int16_t toInt16(float sample);

private:
    void resample(const float* mono, std::size_t frames, std::vector<std::int16_t>& out);

    unsigned channels_;
    bool passThrough_;
    double outPerIn_;  // output frames per input frame
    soxr* resampler_ = nullptr;
    std::vector<float> mono_;
    std::vector<float> resampled_;
};

}  // namespace sayloft
