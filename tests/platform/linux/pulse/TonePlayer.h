#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace sayloft::test {

// Plays stereo sines (or silence) into a PulseAudio sink from its own thread until destroyed,
// so that the sink's monitor (the test microphone) hears them. Throws std::runtime_error when the
// playback stream cannot be opened.
//
// One player kept for several recordings also keeps the null sink busy: an idle null sink renders
// in bursts of two seconds and a new recording on its monitor may then wait that long for its first
// block.
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
        thread_ = std::thread([this] {
            while (!stop_ && playPendingBurst() && write(chunkFrames)) {
            }
        });
    }
    ~TonePlayer() {
        stop_ = true;
        thread_.join();
        pa_simple_free(simple_);
    }
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Plays hz at amplitude for `frames` frames, then silence, or the same tone on when `keep`.
    // Returns once the server has played the last of those frames (the sink has rendered them,
    // so its monitor has them), or false when that took longer than 10 s.
    bool playBurst(double hz, double amplitude, std::size_t frames, bool keep = false) {
        std::unique_lock lock(mutex_);
        burst_ = Burst{hz, amplitude, frames, keep, true};
        return burstPlayed_.wait_for(lock, std::chrono::seconds(10),
                                     [this] { return !burst_.pending; });
    }

private:
    static constexpr std::size_t chunkFrames = 480;  // 10 ms at 48 kHz

    // The tone for `frames` frames; false when playback failed. Blocks while the server's buffer
    // is full, which paces the caller at real time.
    bool write(std::size_t frames) {
        std::vector<float> chunk(2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            chunk[2 * i] = chunk[2 * i + 1] = static_cast<float>(amplitude_ * std::sin(phase_));
            phase_ = std::fmod(phase_ + 2 * std::numbers::pi * hz_ / rate_, 2 * std::numbers::pi);
        }
        return pa_simple_write(simple_, chunk.data(), chunk.size() * sizeof(float), nullptr) >= 0;
    }

    // False when playback failed.
    bool playPendingBurst() {
        Burst burst;
        {
            std::lock_guard lock(mutex_);
            if (!burst_.pending) {
                return true;
            }
            burst = burst_;
        }
        hz_ = burst.hz;
        amplitude_ = burst.amplitude;
        phase_ = 0;
        for (std::size_t left = burst.frames; left > 0 && !stop_;) {
            const std::size_t frames = std::min(left, chunkFrames);
            if (!write(frames)) {
                return false;
            }
            left -= frames;
        }
        if (!burst.keep) {
            hz_ = amplitude_ = 0;
        }
        // The burst ends exactly at the last written frame; the drain returns when it was played.
        pa_simple_drain(simple_, nullptr);
        {
            std::lock_guard lock(mutex_);
            burst_.pending = false;
        }
        burstPlayed_.notify_all();
        return true;
    }

    struct Burst {
        double hz = 0;
        double amplitude = 0;
        std::size_t frames = 0;
        bool keep = false;
        bool pending = false;
    };

    pa_simple* simple_;
    double hz_ = 0;  // of the player's thread alone, as are amplitude_ and phase_
    double amplitude_ = 0;
    double phase_ = 0;  // radians, kept across tone changes so that a change makes no click
    unsigned rate_;
    std::mutex mutex_;
    std::condition_variable burstPlayed_;
    Burst burst_;  // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace sayloft::test
