// Costs of the dictation session on its two time-critical threads: the main thread between the
// key release and the request being handed to the service client (stop, cut, silence gate, WAV
// encoding and the copy into the task) for a full 60 s recording, and the audio thread's work for
// one 4096-frame 48 kHz stereo block (down-mix, resampling, append under the lock).
#include <chrono>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/AppHarness.h"
#include "fakes/FakeTranscriptionService.h"

namespace {

using namespace sayloft;
using namespace sayloft::test;

void BM_ReleaseToRequest60s(benchmark::State& state) {
    FakeTranscriptionService service;
    ManualBackgroundTasks tasks;
    AppHarness harness(service, tasks);
    harness.launch();
    tasks.runAll();
    AppDelegate& app = *harness.app;
    FakeMicrophone& mic = harness.mic;
    VirtualRunLoop& loop = harness.loop;
    ManualSerialQueue& mediaQueue = harness.mediaQueue;

    const std::vector<float> second = mic.sine(16000, 300.0, 0.3);
    for (auto _ : state) {
        state.PauseTiming();
        app.beginRecording();
        for (int i = 0; i < 61; ++i) {
            mic.deliver(second);
        }
        state.ResumeTiming();
        app.endRecordingAndTranscribe();  // ends with the task handed over
        state.PauseTiming();
        tasks.runAll();
        loop.runUntilIdle();
        mediaQueue.runAll();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReleaseToRequest60s)->Unit(benchmark::kMillisecond);

void BM_AudioBlock4096Stereo48k(benchmark::State& state) {
    FakeMicrophone mic;
    mic.format = {48000.0, 2};
    Recorder recorder(mic.factory());
    recorder.start();
    const std::vector<float> block = mic.sine(4096);
    for (auto _ : state) {
        if (!mic.deliver(block)) {  // the capture stopped itself at 60 s: start another
            state.PauseTiming();
            recorder.stop();
            recorder.start();
            state.ResumeTiming();
            mic.deliver(block);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_AudioBlock4096Stereo48k)->Unit(benchmark::kMicrosecond);

}  // namespace
