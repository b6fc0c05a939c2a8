#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "core/audio/AudioEngine.h"

namespace sayloft::test {

// Counts the blocks an engine delivers and lets the test wait for a number of them with a
// generous bound, instead of sleeping. wrap() decorates a factory: every engine it makes passes
// its blocks through the counter on the way to the real tap.
class BlockCounter {
public:
    void count() {
        {
            std::lock_guard lock(mutex_);
            ++blocks_;
        }
        changed_.notify_all();
    }

    std::size_t blocks() const {
        std::lock_guard lock(mutex_);
        return blocks_;
    }

    // True when at least n blocks have been counted since construction, within limit.
    bool waitFor(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return blocks_ >= n; });
    }

    AudioEngineFactory wrap(AudioEngineFactory factory) {
        return [this, factory = std::move(factory)]() -> std::unique_ptr<AudioEngine> {
            auto engine = factory();
            return engine ? std::make_unique<Counting>(std::move(engine), *this) : nullptr;
        };
    }

private:
    struct Counting final : AudioEngine {
        Counting(std::unique_ptr<AudioEngine> engine, BlockCounter& counter)
            : inner(std::move(engine)), owner(counter) {}
        AudioFormat inputFormat() override { return inner->inputFormat(); }
        void installTap(std::size_t bufferFrames, Tap tap) override {
            inner->installTap(bufferFrames,
                              [this, tap = std::move(tap)](std::span<const float> block) {
                                  tap(block);
                                  owner.count();
                              });
        }
        void start() override { inner->start(); }
        void removeTap() override { inner->removeTap(); }
        void stop() override { inner->stop(); }

        std::unique_ptr<AudioEngine> inner;
        BlockCounter& owner;
    };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t blocks_ = 0;
};

}  // namespace sayloft::test
