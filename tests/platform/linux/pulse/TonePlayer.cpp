#include "TonePlayer.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace sayloft::test {

TonePlayer::TonePlayer(std::string sink, double hz, double amplitude, unsigned rate)
    : hz_(hz), amplitude_(amplitude), rate_(rate) {
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, rate, 2};
    // A short target buffer: the tone reaches the sink promptly and stops promptly.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(50000, &sampleSpec));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    simple_ = pa_simple_new(nullptr, "sayloft-tests", PA_STREAM_PLAYBACK, sink.c_str(), "tone",
                            &sampleSpec, nullptr, &attributes, &error);
    if (simple_ == nullptr) {
        throw std::runtime_error(std::string("cannot play into ") + sink + ": " +
                                 pa_strerror(error));
    }
    thread_ = std::thread([this] { run(); });
}

TonePlayer::~TonePlayer() {
    stop_ = true;
    thread_.join();
    pa_simple_free(static_cast<pa_simple*>(simple_));
}

void TonePlayer::run() {
    constexpr std::size_t chunkFrames = 480;  // 10 ms at 48 kHz
    std::vector<float> chunk(2 * chunkFrames);
    double phase = 0;  // radians, kept across tone changes so that a change makes no click
    while (!stop_) {
        const double step = 2 * std::numbers::pi * hz_ / rate_;
        const double amplitude = amplitude_;
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const auto value = static_cast<float>(amplitude * std::sin(phase));
            phase = std::fmod(phase + step, 2 * std::numbers::pi);
            chunk[2 * i] = value;
            chunk[2 * i + 1] = value;
        }
        // Blocks while the server's buffer is full, which paces the loop at real time.
        if (pa_simple_write(static_cast<pa_simple*>(simple_), chunk.data(),
                            chunk.size() * sizeof(float), nullptr) < 0) {
            return;
        }
    }
}

}  // namespace sayloft::test
