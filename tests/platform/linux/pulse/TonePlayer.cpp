#include "TonePlayer.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace sayloft::test {
namespace {

constexpr std::size_t chunkFrames = 480;  // 10 ms at 48 kHz

}  // namespace

TonePlayer::TonePlayer(std::string sink, unsigned rate) : rate_(rate) {
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, rate, 2};
    // A short target buffer: the tone reaches the sink promptly and stops promptly.
    const pa_buffer_attr attributes{
        UINT32_MAX, static_cast<std::uint32_t>(pa_usec_to_bytes(50000, &sampleSpec)), UINT32_MAX,
        UINT32_MAX, UINT32_MAX};
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

bool TonePlayer::playBurst(double hz, double amplitude, std::size_t frames, bool keep,
                           std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    burst_ = Burst{hz, amplitude, frames, keep, true};
    return burstPlayed_.wait_for(lock, limit, [this] { return !burst_.pending; });
}

bool TonePlayer::write(std::size_t frames) {
    std::vector<float> chunk(2 * frames);
    const double step = 2 * std::numbers::pi * hz_ / rate_;
    const double amplitude = amplitude_;
    for (std::size_t i = 0; i < frames; ++i) {
        chunk[2 * i] = chunk[2 * i + 1] = static_cast<float>(amplitude * std::sin(phase_));
        phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
    }
    // Blocks while the server's buffer is full, which paces the caller at real time.
    return pa_simple_write(static_cast<pa_simple*>(simple_), chunk.data(),
                           chunk.size() * sizeof(float), nullptr) >= 0;
}

void TonePlayer::playPendingBurst() {
    Burst burst;
    {
        std::lock_guard lock(mutex_);
        if (!burst_.pending) {
            return;
        }
        burst = burst_;
    }
    hz_ = burst.hz;
    amplitude_ = burst.amplitude;
    phase_ = 0;
    for (std::size_t left = burst.frames; left > 0 && !stop_;) {
        const std::size_t frames = std::min<std::size_t>(left, chunkFrames);
        if (!write(frames)) {
            return;
        }
        left -= frames;
    }
    if (!burst.keep) {
        hz_ = amplitude_ = 0;
    }
    // The burst ends exactly at the last written frame; the drain returns when it was played.
    pa_simple_drain(static_cast<pa_simple*>(simple_), nullptr);
    {
        std::lock_guard lock(mutex_);
        burst_.pending = false;
    }
    burstPlayed_.notify_all();
}

void TonePlayer::run() {
    while (!stop_) {
        playPendingBurst();
        if (!write(chunkFrames)) {
            return;
        }
    }
}

}  // namespace sayloft::test
