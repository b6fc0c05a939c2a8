#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/audio/AudioEngine.h"

namespace sayloft {

// Microphone capture converted to 16 kHz mono 16-bit samples, and the WAV container the service
// receives.
//
// start() and stop() run on one thread (the main thread); the engine's tap runs on the audio
// thread. Each block is converted (channels averaged, resampled to 16 kHz) and appended under a
// mutex that stop() also takes, so a block still being converted when stop() is called lands
// either wholly before the take or not at all.
class Recorder {
public:
    // Frames per block asked of the engine's tap.
    static constexpr std::size_t tapBufferFrames = 4096;
    // Config::maxRecordSeconds x Config::sampleRate: once a capture holds more than this many
    // samples the tap stops the engine by itself. The caller cuts the result to this length.
    static constexpr std::size_t maxSamples = 960000;

    // makeEngine is called at every start(); it may return nullptr when there is no audio system.
    explicit Recorder(AudioEngineFactory makeEngine);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Begins a capture with a new engine, discarding anything not taken by stop(). Throws
    // RecorderFailure(noInputDevice) when the input has no usable format,
    // and lets the engine's own exception through unchanged when it cannot start; either way the
    // recorder is left idle with no samples.
    void start();

    // Receives converted samples of the running capture as they are collected: on the audio
    // thread (the last block and the converter's tail on the thread calling stop()), under the
    // capture's lock, so it must be quick and must not call the recorder.
    using SampleListener = std::function<void(std::span<const std::int16_t>)>;

    // Main thread. Hands the listener, at once, every sample collected since start(), then each
    // new one as it is collected, never more than maxSamples in all, until stop() (whose tail it
    // still receives) or the next start(). Replaces an earlier listener; ignored when no capture
    // runs.
    void follow(SampleListener listener);

    // Ends the capture and hands over every sample collected since start(), including what the
    // engine still held when asked to stop (its stop() delivers it through the tap) and the tail
    // the resampler still held (flushed after the tap is removed), so the end of the last word
    // is kept. A second call without a new start() returns nothing.
    std::vector<std::int16_t> stop();

    // Throws RecorderFailure(noInputDevice) unless sampleRate > 0 (NaN is not) and channels != 0.
    static void validateInput(double sampleRate, std::uint32_t channels);

    // Wraps signed 16-bit mono samples in a canonical 44-byte RIFF/WAVE header: exactly
    // 44 + 2 * samples.size() bytes, little-endian on every host. Throws std::length_error when
    // the sample count does not fit the 32-bit RIFF size and std::invalid_argument for a negative
    // rate; it never writes a wrapped header.
    static std::vector<std::uint8_t> encodeWav(std::span<const std::int16_t> samples,
                                               std::int32_t sampleRate);

    // The size encodeWav produces for sampleCount samples; throws std::length_error past the
    // largest size a RIFF header can state (36 + 2n must fit 32 bits).
    static std::size_t encodedWavSize(std::size_t sampleCount);

    static constexpr std::size_t wavHeaderSize = 44;

private:
    struct Capture;

    void retireEngine();

    AudioEngineFactory makeEngine_;
    std::unique_ptr<AudioEngine> engine_;
    std::shared_ptr<Capture> capture_;  // the capture since the last start(), until stop()
};

}  // namespace sayloft
