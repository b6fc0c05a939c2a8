#pragma once

#include <cstddef>
#include <memory>
#include <optional>
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
// main loop); a partial block still held at stop() is dropped.
//
// Failures: no server or no default source reads as a zero inputFormat(), and start() then
// throws RecorderError::noInputDevice (also when the source vanishes between the two calls);
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

    // The server's fragment size asked for, in frames: the largest delay between the audio
    // arriving at the server and reaching this process. A quarter block keeps the first block
    // prompt without waking the audio thread more than about 50 times a second.
    static std::size_t fragmentFrames(std::size_t bufferFrames) { return bufferFrames / 4 + 1; }

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onStateChange(pa_stream* stream, void* self);
    void readAvailable();  // audio thread
    void closeStream();    // lock held

    std::shared_ptr<PulseConnection> connection_;
    std::optional<PulseConnection::Source> source_;  // main thread

    // Guarded by the connection's main loop lock.
    std::size_t bufferFrames_ = 4096;
    std::shared_ptr<const Tap> tap_;
    pa_stream* stream_ = nullptr;
    pa_stream* retired_ = nullptr;  // stopped on the audio thread, unreferenced later
    bool running_ = false;
    std::vector<float> pending_;  // samples not yet delivered as a whole block
};

}  // namespace sayloft
