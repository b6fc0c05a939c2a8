#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace sayloft::test {

// A playback stream into a PulseAudio sink, so that the sink's monitor (the test microphone)
// hears what it plays. Throws std::runtime_error when the stream cannot be opened. Kept open
// across recordings, the stream also keeps the null sink running at its short latency: an idle
// null sink renders in bursts of two seconds.
class TonePlayer {
public:
    explicit TonePlayer(const std::string& sink, unsigned rate = 48000) : rate_(rate) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, rate, 2};
        // A short target buffer: the tone reaches the sink promptly and stops promptly.
        const pa_buffer_attr attributes{UINT32_MAX,
                                        static_cast<std::uint32_t>(pa_usec_to_bytes(50000, &spec)),
                                        UINT32_MAX, UINT32_MAX, UINT32_MAX};
        int error = 0;
        simple_ = pa_simple_new(nullptr, "sayloft-tests", PA_STREAM_PLAYBACK, sink.c_str(), "tone",
                                &spec, nullptr, &attributes, &error);
        if (simple_ == nullptr) {
            throw std::runtime_error("cannot play into " + sink + ": " + pa_strerror(error));
        }
    }
    ~TonePlayer() { pa_simple_free(simple_); }
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Plays hz at amplitude for `frames` frames, paced by the server, and returns once the sink
    // has rendered the last of them (so its monitor has them); false when playback failed.
    bool play(double hz, double amplitude, std::size_t frames) {
        std::vector<float> samples(2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            samples[2 * i] = samples[2 * i + 1] = static_cast<float>(
                amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate_));
        }
        const std::size_t bytes = samples.size() * sizeof(float);
        return pa_simple_write(simple_, samples.data(), bytes, nullptr) >= 0 &&
               pa_simple_drain(simple_, nullptr) >= 0;
    }

private:
    pa_simple* simple_;
    unsigned rate_;
};

}  // namespace sayloft::test
