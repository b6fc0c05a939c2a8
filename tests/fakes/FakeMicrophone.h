#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/audio/AudioEngine.h"

namespace sayloft::test {

// The default audio input as a test drives it. Each engine factory() makes reads the format of
// that moment; deliver() sends a block to the running engine's tap on the calling thread (which
// plays the audio thread). removeTap() from another thread waits for a block being delivered, as
// the contract asks; from inside the tap it does not.
class FakeMicrophone {
public:
    AudioFormat format{48000.0, 2};
    bool failStart = false;  // the next engine's start() throws
    int enginesMade = 0;
    int tapRemovals = 0;
    // What an engine still holds when stopped: stop() hands it to the tap, as the contract asks.
    std::vector<float> heldAtStop;

    AudioEngineFactory factory() {
        return [this] { return std::make_unique<Engine>(*this); };
    }
    bool running() const {
        std::lock_guard lock(mutex_);
        return current_ != nullptr && current_->tap;
    }
    // Sends one block of interleaved samples in the current format; false when no engine runs.
    bool deliver(std::span<const float> interleaved) {
        std::lock_guard lock(mutex_);
        if (current_ == nullptr || !current_->tap) {
            return false;
        }
        const AudioEngine::Tap tap = current_->tap;  // removeTap() inside the call must not free it
        tap(interleaved);
        return true;
    }
    // `seconds` of a tone in 4096-frame blocks (the last one shorter); false when no engine ran.
    bool tone(double seconds, double hz = 440.0, double amplitude = 0.5) {
        bool delivered = true;
        for (auto frames = static_cast<std::size_t>(seconds * format.sampleRate); frames > 0;) {
            const std::size_t block = std::min<std::size_t>(frames, 4096);
            delivered = deliver(sine(block, hz, amplitude)) && delivered;
            frames -= block;
        }
        return delivered;
    }
    // A sine block of `frames` frames in the current format, continuing the previous block's phase.
    std::vector<float> sine(std::size_t frames, double hz = 440.0, double amplitude = 0.5) {
        std::vector<float> block;
        for (std::size_t end = phase_ + frames; phase_ < end; ++phase_) {
            const double t = static_cast<double>(phase_) / format.sampleRate;
            block.insert(block.end(), format.channels,
                         static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * t)));
        }
        return block;
    }

private:
    struct Engine final : AudioEngine {
        explicit Engine(FakeMicrophone& owner) : mic(owner), format(owner.format) {
            ++owner.enginesMade;
        }
        ~Engine() override {
            std::lock_guard lock(mic.mutex_);
            mic.current_ = mic.current_ == this ? nullptr : mic.current_;
        }
        AudioFormat inputFormat() override { return format; }
        void installTap(std::size_t, Tap newTap) override {
            std::lock_guard lock(mic.mutex_);
            tap = std::move(newTap);
        }
        void start() override {
            if (mic.failStart) {
                throw std::runtime_error("the input device is busy");
            }
            std::lock_guard lock(mic.mutex_);
            mic.current_ = this;
        }
        void removeTap() override {
            std::lock_guard lock(mic.mutex_);  // recursive: fine from inside the tap
            ++mic.tapRemovals;
            tap = nullptr;
        }
        void stop() override {
            std::lock_guard lock(mic.mutex_);
            if (mic.current_ == this) {
                if (tap && !mic.heldAtStop.empty()) {
                    const Tap running = tap;
                    running(std::exchange(mic.heldAtStop, {}));
                }
                mic.current_ = nullptr;
            }
        }
        FakeMicrophone& mic;
        AudioFormat format;
        Tap tap;
    };

    mutable std::recursive_mutex mutex_;
    Engine* current_ = nullptr;
    std::size_t phase_ = 0;
};

}  // namespace sayloft::test
