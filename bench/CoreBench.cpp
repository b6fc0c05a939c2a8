// Costs on the path between the key release and the upload: the gate and the WAV encoding run on
// the main thread over a full 60 s recording, the filter on every transcript.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/audio/Recorder.h"
#include "core/audio/SilenceGate.h"
#include "core/text/BlacklistFilter.h"

namespace {

std::vector<std::int16_t> sixtySeconds() {
    std::vector<std::int16_t> samples(960000);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> value(-3000, 3000);
    for (auto& sample : samples) {
        sample = static_cast<std::int16_t>(value(random));
    }
    return samples;
}

void BM_EncodeWav60s(benchmark::State& state) {
    const auto samples = sixtySeconds();
    for (auto _ : state) {
        auto wav = sayloft::Recorder::encodeWav(samples, 16000);
        benchmark::DoNotOptimize(wav.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1920044);
}
BENCHMARK(BM_EncodeWav60s)->Unit(benchmark::kMicrosecond);

void BM_SilenceGate60s(benchmark::State& state) {
    const auto samples = sixtySeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(sayloft::SilenceGate::shouldSkip(samples, 16000.0));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1920000);
}
BENCHMARK(BM_SilenceGate60s)->Unit(benchmark::kMicrosecond);

void BM_BlacklistFilter29Chinese(benchmark::State& state) {
    std::string text = "  ";
    for (int i = 0; i < 29; ++i) {
        text += "说";
    }
    text += "\n";
    for (auto _ : state) {
        benchmark::DoNotOptimize(sayloft::BlacklistFilter::clean(text));
    }
}
BENCHMARK(BM_BlacklistFilter29Chinese)->Unit(benchmark::kMicrosecond);

void BM_BlacklistFilter29Latin(benchmark::State& state) {
    const std::string text = " Thanks for watching, see you ";  // 29 characters inside the blanks
    for (auto _ : state) {
        benchmark::DoNotOptimize(sayloft::BlacklistFilter::clean(text));
    }
}
BENCHMARK(BM_BlacklistFilter29Latin)->Unit(benchmark::kMicrosecond);

}  // namespace
