#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

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
    explicit TonePlayer(std::string sink, unsigned rate = 48000);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Plays hz at amplitude for `frames` frames, then silence, or the same tone on when `keep`.
    // Returns once the server has played the last of those frames (the sink has rendered them,
    // so its monitor has them), or false when that took longer than limit.
    bool playBurst(double hz, double amplitude, std::size_t frames, bool keep = false,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    void run();
    bool write(std::size_t frames);  // the tone for `frames` frames; false when playback failed
    void playPendingBurst();

    struct Burst {
        double hz = 0;
        double amplitude = 0;
        std::size_t frames = 0;
        bool keep = false;
        bool pending = false;
    };

    void* simple_;  // pa_simple
    std::atomic<double> hz_{0};
    std::atomic<double> amplitude_{0};
    unsigned rate_;
    double phase_ = 0;  // radians, kept across tone changes so that a change makes no click
    std::mutex mutex_;
    std::condition_variable burstPlayed_;
    Burst burst_;  // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace sayloft::test
