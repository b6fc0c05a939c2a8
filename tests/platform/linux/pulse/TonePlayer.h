#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace sayloft::test {

// Plays a continuous stereo sine into a PulseAudio sink from its own thread until destroyed,
// so that the sink's monitor (the test microphone) hears it. Throws std::runtime_error when the
// playback stream cannot be opened.
//
// One player kept for several recordings, with setTone() between them, also keeps the null
// sink busy: an idle null sink renders in bursts of two seconds and a new recording on its
// monitor may then wait that long for its first block.
class TonePlayer {
public:
    TonePlayer(std::string sink, double hz, double amplitude, unsigned rate = 48000);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Takes effect within a few milliseconds (the stream's short buffer).
    void setTone(double hz, double amplitude) {
        hz_ = hz;
        amplitude_ = amplitude;
    }

private:
    void run();

    void* simple_;  // pa_simple
    std::atomic<double> hz_;
    std::atomic<double> amplitude_;
    unsigned rate_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace sayloft::test
