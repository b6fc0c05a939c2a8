// The microphone's start-up on a real PulseAudio server: the time from AudioEngine::start() to
// the first block at the tap, the delay a user's first word must survive. Needs a server with a
// default source; run it inside the private session:
//   scripts/desktop-session build/release/bench/sayloft_linux_audio_bench

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <benchmark/benchmark.h>

#include "core/audio/Recorder.h"
#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

// One capture as the Recorder makes it: a new engine from the factory, the format query, the tap
// of tapBufferFrames frames, start; timed until the first block arrives.
double secondsToFirstBlock(const std::shared_ptr<PulseConnection>& connection) {
    std::mutex mutex;
    std::condition_variable arrived;
    bool first = false;
    const auto begin = Clock::now();
    auto engine = PulseAudioEngine::factory(connection)();
    if (engine->inputFormat().channels == 0) {
        return -1;
    }
    engine->installTap(Recorder::tapBufferFrames, [&](std::span<const float>) {
        {
            std::lock_guard lock(mutex);
            first = true;
        }
        arrived.notify_one();
    });
    engine->start();
    std::unique_lock lock(mutex);
    if (!arrived.wait_for(lock, std::chrono::seconds(10), [&] { return first; })) {
        return -1;
    }
    lock.unlock();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    engine->removeTap();
    engine->stop();
    return seconds;
}

// The application's case: the connection stays open between recordings. One capture before
// the timed ones: the null sink of the test session, idle, renders in two-second bursts, and the
// first capture on its monitor waits for the burst in progress (a real microphone does not).
void BM_StartToFirstBlockOnOpenConnection(benchmark::State& state) {
    auto connection = std::make_shared<PulseConnection>();
    if (!connection->connect() || secondsToFirstBlock(connection) < 0) {
        state.SkipWithError("no PulseAudio server or no audio from the default source");
        return;
    }
    for (auto _ : state) {
        const double seconds = secondsToFirstBlock(connection);
        if (seconds < 0) {
            state.SkipWithError("no audio from the default source");
            return;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_StartToFirstBlockOnOpenConnection)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// For comparison: connecting to the server for every recording.
void BM_StartToFirstBlockWithNewConnection(benchmark::State& state) {
    for (auto _ : state) {
        const auto begin = Clock::now();
        auto connection = std::make_shared<PulseConnection>();
        const double capture = secondsToFirstBlock(connection);
        if (capture < 0) {
            state.SkipWithError("no PulseAudio server or no audio from the default source");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    }
}
BENCHMARK(BM_StartToFirstBlockWithNewConnection)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The main thread's share: how long start() itself (format query included) holds the caller.
void BM_StartCall(benchmark::State& state) {
    auto connection = std::make_shared<PulseConnection>();
    if (!connection->connect()) {
        state.SkipWithError("no PulseAudio server");
        return;
    }
    for (auto _ : state) {
        const auto begin = Clock::now();
        PulseAudioEngine engine(connection);
        engine.inputFormat();
        engine.installTap(Recorder::tapBufferFrames, [](std::span<const float>) {});
        engine.start();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
        engine.stop();
    }
}
BENCHMARK(BM_StartCall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
}  // namespace sayloft
