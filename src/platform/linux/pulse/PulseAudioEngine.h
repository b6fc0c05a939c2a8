#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/audio/AudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"

struct pa_stream;

namespace sayloft {

// The microphone through libpulse: one record stream on the shared connection, opened on the
// source that is the default when inputFormat() (or start()) first asks, in that source's native
// rate and channels as 32-bit float, so the server neither resamples nor remixes.
//
// Blocks of exactly bufferFrames frames reach the tap on the audio thread (the connection's
// main loop). stop() from another thread with a tap installed first waits for the audio that the
// source and the server still held at that moment (one more fragment, at most tailWait), then
// hands the tap the rest as one shorter block, on the stopping thread with the audio thread
// held; so a recording keeps its last syllable.
//
// Failures: no server or no default source reads as a zero inputFormat(), and start() then
// throws RecorderFailure(noInputDevice) (also when the source vanishes between the two calls);
// any other refusal to open the stream throws std::runtime_error saying why.
class PulseAudioEngine final : public AudioEngine {
public:
    explicit PulseAudioEngine(std::shared_ptr<PulseConnection> connection);
    ~PulseAudioEngine() override;
    PulseAudioEngine(const PulseAudioEngine&) = delete;
    PulseAudioEngine& operator=(const PulseAudioEngine&) = delete;

    // What the Recorder gets: a new engine per start, all sharing `connection`.
    static AudioEngineFactory factory(std::shared_ptr<PulseConnection> connection);

    AudioFormat inputFormat() override;
    void installTap(std::size_t bufferFrames, Tap tap) override;
    void start() override;
    void removeTap() override;
    void stop() override;

    // The server's fragment size asked for, in frames: 20 ms, the largest delay between the
    // audio arriving at the server and reaching this process, and so about the longest wait of a
    // stop() for the audio still on its way; it wakes the audio thread about 50 times a second.
    static std::size_t fragmentFrames(double sampleRate);

    // The longest stop() waits for the server's next delivery: two fragments and some slack (a
    // source that delivers less often, such as an idle null sink's monitor, costs this much).
    static constexpr std::chrono::milliseconds tailWait{50};

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onStateChange(pa_stream* stream, void* self);
    void readAvailable();                        // audio thread, or lock held
    void deliver(std::span<const float> block);  // lock held
    void closeStream();                          // lock held

    std::shared_ptr<PulseConnection> connection_;
    std::optional<PulseConnection::Source> source_;  // main thread

    // Guarded by the connection's main loop lock.
    std::size_t bufferFrames_ = 4096;
    std::shared_ptr<const Tap> tap_;
    pa_stream* stream_ = nullptr;
    pa_stream* retired_ = nullptr;  // stopped on the audio thread, unreferenced later
    bool running_ = false;
    std::uint64_t framesReceived_ = 0;  // from the server since start()
    std::vector<float> pending_;        // samples not yet delivered as a whole block
};

}  // namespace sayloft
