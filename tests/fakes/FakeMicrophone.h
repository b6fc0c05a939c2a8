#pragma once

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core/audio/AudioEngine.h"

namespace sayloft::test {

// The default audio input as a test drives it. factory() makes engines the way the desktop
// would: each reads the format the microphone has at that moment, and deliver() sends a block to
// the engine that currently runs with a tap, on the calling thread (which plays the audio
// thread). removeTap() from another thread waits for a block being delivered, as the contract
// asks; from inside the tap it does not.
class FakeMicrophone {
public:
    AudioFormat format{48000.0, 2};
    bool failStart = false;  // the next engine's start() throws
    int enginesMade = 0;
    int tapRemovals = 0;
    std::size_t askedBufferFrames = 0;
    // What an engine still holds when stopped: its stop() hands it to the tap, if one is
    // installed then, as the contract asks of a stop from another thread.
    std::vector<float> heldAtStop;

    AudioEngineFactory factory() {
        return [this]() -> std::unique_ptr<AudioEngine> { return std::make_unique<Engine>(*this); };
    }

    bool running() const {
        std::lock_guard lock(mutex_);
        return current_ != nullptr && current_->started && static_cast<bool>(current_->tap);
    }

    // Sends one block of interleaved samples in the current format; false when no engine runs.
    bool deliver(std::span<const float> interleaved) {
        std::lock_guard lock(mutex_);
        if (current_ == nullptr || !current_->started || !current_->tap) {
            return false;
        }
        const AudioEngine::Tap tap = current_->tap;  // removeTap() inside the call must not free it
        tap(interleaved);
        return true;
    }

    // A sine block of `frames` frames at the current format, amplitude in [0, 1], continuing the
    // phase of the previous block.
    std::vector<float> sine(std::size_t frames, double hz = 440.0, double amplitude = 0.5) {
        std::vector<float> block(frames * format.channels);
        for (std::size_t frame = 0; frame < frames; ++frame) {
            const double value = amplitude * std::sin(2 * std::numbers::pi * hz *
                                                      (phaseFrames_ + frame) / format.sampleRate);
            for (std::uint32_t channel = 0; channel < format.channels; ++channel) {
                block[frame * format.channels + channel] = static_cast<float>(value);
            }
        }
        phaseFrames_ += frames;
        return block;
    }

private:
    struct Engine final : AudioEngine {
        explicit Engine(FakeMicrophone& owner) : mic(owner), format(owner.format) {
            ++owner.enginesMade;
        }
        ~Engine() override {
            std::lock_guard lock(mic.mutex_);
            if (mic.current_ == this) {
                mic.current_ = nullptr;
            }
        }
        AudioFormat inputFormat() override { return format; }
        void installTap(std::size_t bufferFrames, Tap newTap) override {
            std::lock_guard lock(mic.mutex_);
            mic.askedBufferFrames = bufferFrames;
            tap = std::move(newTap);
        }
        void start() override {
            if (mic.failStart) {
                throw std::runtime_error("the input device is busy");
            }
            std::lock_guard lock(mic.mutex_);
            started = true;
            mic.current_ = this;
        }
        void removeTap() override {
            std::lock_guard lock(mic.mutex_);  // recursive: fine from inside the tap
            ++mic.tapRemovals;
            tap = nullptr;
        }
        void stop() override {
            std::lock_guard lock(mic.mutex_);
            if (started && tap && !mic.heldAtStop.empty()) {
                const Tap running = tap;
                running(std::exchange(mic.heldAtStop, {}));
            }
            started = false;
        }

        FakeMicrophone& mic;
        AudioFormat format;
        Tap tap;
        bool started = false;
    };

    mutable std::recursive_mutex mutex_;
    Engine* current_ = nullptr;
    std::size_t phaseFrames_ = 0;
};

}  // namespace sayloft::test
