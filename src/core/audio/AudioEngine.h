#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>

#include "core/audio/AudioFormat.h"

namespace sayloft {

// The audio input the Recorder captures from, implemented by the desktop (PulseAudio on Linux).
// One engine serves one capture: the Recorder makes a new one for every start, so each capture
// picks up the input that is the default at that moment.
//
// Threads: every method may be called from the thread that owns the engine (the main thread);
// removeTap() and stop() may also be called from inside the tap, on the audio thread, and must
// not wait for that running call then.
class AudioEngine {
public:
    // One block of captured audio: frames * channels interleaved float samples in [-1, 1] in the
    // input format. The span is valid only during the call. Runs on the audio thread (the last
    // block possibly on the thread calling stop()), one block at a time, never concurrently
    // with itself.
    using Tap = std::function<void(std::span<const float> interleaved)>;

    virtual ~AudioEngine() = default;

    // The default input's native format; zero values when there is no usable input.
    virtual AudioFormat inputFormat() = 0;

    // Installs the tap, which receives blocks of about bufferFrames frames in inputFormat() once
    // the engine runs. Replaces an earlier tap.
    virtual void installTap(std::size_t bufferFrames, Tap tap) = 0;

    // Starts capturing. Throws (an exception derived from std::exception whose what() says why)
    // when the input cannot be opened.
    virtual void start() = 0;

    // Removes the tap. Called from another thread, it returns only when no call of the tap is
    // running any more; none starts afterwards. Called from inside the tap, it keeps the running
    // tap alive until that call returns. Harmless when there is no tap.
    virtual void removeTap() = 0;

    // Stops capturing. Called from another thread while a tap is installed, it first hands the
    // tap, on the calling thread, the audio captured up to the moment of the call that has not
    // reached it yet, the last block possibly shorter than asked; for that it may wait for audio
    // still on its way (tens of milliseconds). Called from inside the tap it stops at once.
    // Harmless when not running.
    virtual void stop() = 0;
};

// Makes a new, stopped engine. Called on the main thread at every Recorder::start().
using AudioEngineFactory = std::function<std::unique_ptr<AudioEngine>()>;

}  // namespace sayloft
