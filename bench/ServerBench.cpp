// sayloft-server's recogniser and service: start-up time and resident memory of the decoder
// pool, real-time factor per utterance, the cost of making its words into a sentence, and
// transcription throughput over HTTP at concurrency 1, 2 and 4, and the fair queue's own cost. Uses
// the recordings of Debian's pocketsphinx-testdata.
//   build/release/bench/sayloft_server_bench

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include "core/audio/Recorder.h"
#include "server/CrashStore.h"
#include "server/FairRecognitionQueue.h"
#include "server/PocketSphinxRecognizer.h"
#include "server/ReadableText.h"
#include "server/ReadableTextRecognizer.h"
#include "server/SayloftServer.h"
#include "server/TokenAuthority.h"

namespace {

using namespace sayloft;

const char* const utteranceFiles[] = {"sense_and_sensibility_01_austen_64kb-0870.wav",
                                      "sense_and_sensibility_01_austen_64kb-0880.wav",
                                      "sense_and_sensibility_01_austen_64kb-0890.wav",
                                      "sense_and_sensibility_01_austen_64kb-0920.wav",
                                      "sense_and_sensibility_01_austen_64kb-0930.wav"};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string utteranceWav(std::size_t i) {
    return readFile(std::string("/usr/share/pocketsphinx/test/data/librivox/") + utteranceFiles[i]);
}

std::vector<std::int16_t> samplesOf(const std::string& wav) {
    std::vector<std::int16_t> samples((wav.size() - 44) / 2);
    std::memcpy(samples.data(), wav.data() + 44, samples.size() * 2);
    return samples;
}

double residentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

std::size_t cores() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::unique_ptr<PocketSphinxRecognizer> loadPool(std::size_t decoders) {
    std::string error;
    auto pool = PocketSphinxRecognizer::load(PocketSphinxRecognizer::defaultModelDir, decoders, 0,
                                             std::chrono::seconds(300),
                                             RecognizerSettings::chosen(), {}, &error);
    if (!pool) {
        throw std::runtime_error(error);
    }
    return pool;
}

// Loading the model into one decoder per core, as the server does at start-up.
void BM_DecoderPoolStartup(benchmark::State& state) {
    const double before = residentMiB();
    double after = before;
    for (auto _ : state) {
        auto pool = loadPool(cores());
        after = residentMiB();
        benchmark::DoNotOptimize(pool.get());
    }
    state.counters["decoders"] = static_cast<double>(cores());
    state.counters["rss_MiB_with_pool"] = after;
    state.counters["rss_MiB_of_pool"] = after - before;
}
BENCHMARK(BM_DecoderPoolStartup)->Unit(benchmark::kMillisecond)->Iterations(3);

// One utterance on one decoder: rtf = decoding time / audio length.
void BM_RealTimeFactor(benchmark::State& state) {
    static auto pool = loadPool(1);
    const auto samples = samplesOf(utteranceWav(static_cast<std::size_t>(state.range(0))));
    const double audioSeconds = static_cast<double>(samples.size()) / 16000.0;
    double decoding = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto result = pool->recognize(samples);
        decoding += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(result);
    }
    state.counters["audio_s"] = audioSeconds;
    state.counters["rtf"] = decoding / static_cast<double>(state.iterations()) / audioSeconds;
}
BENCHMARK(BM_RealTimeFactor)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(2);

// ReadableText on `range(0)` repetitions of a 12-word sentence, as pocketsphinx writes it: 1 is a
// short dictation, 12 (144 words) about a minute of speech. Compare with BM_RealTimeFactor.
void BM_ReadableText(benchmark::State& state) {
    std::string words;
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        words += (i == 0 ? "" : " ");
        words += "i'll send the quarterly report to the finance team on friday in may";
    }
    for (auto _ : state) {
        auto text = ReadableText::of(words);
        benchmark::DoNotOptimize(text);
    }
    state.counters["words"] = static_cast<double>(state.range(0) * 12);
}
BENCHMARK(BM_ReadableText)->Arg(1)->Arg(12)->Unit(benchmark::kMicrosecond);

// The whole service over loopback HTTP with one decoder per core, answering sentences as
// sayloft-server does by default: `concurrency` clients each send the five recordings;
// utterances per second and audio seconds per second.
void BM_Throughput(benchmark::State& state) {
    static ServerOptions options = [] {
        ServerOptions o;
        o.port = 0;
        o.rateBurst = 1e9;
        o.queueTimeoutSeconds = 600;
        return o;
    }();
    static ReadableTextRecognizer recognizer(loadPool(cores()));
    static const TokenAuthority tokens(TokenAuthority::Secret{}, 0, [] { return std::int64_t{0}; });
    static FairRecognitionQueue queue(recognizer, {.workers = cores(),
                                                   .perOwnerInProgress = 64,
                                                   .maxQueuedSeconds = 1e9,
                                                   .queueTimeout = std::chrono::minutes(10)});
    static CrashStore crashes("/nonexistent", 1, 0);
    static std::ostringstream accessLog;
    static SayloftServer server(options, tokens, recognizer, queue, crashes, std::nullopt,
                                std::nullopt, accessLog);
    static const int port = server.bind(nullptr);
    static std::thread serving([] { server.run(); });
    static const std::string token = tokens.issue();

    std::vector<std::string> bodies;
    double audioSeconds = 0;
    const std::string boundary = "wordcast-00000000-0000-4000-8000-000000000000";
    for (std::size_t i = 0; i < std::size(utteranceFiles); ++i) {
        const auto wav = utteranceWav(i);
        audioSeconds += static_cast<double>(wav.size() - 44) / 32000.0;
        bodies.push_back(
            "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.wav\"\r\n"
            "Content-Type: audio/wav\r\n\r\n" +
            wav + "\r\n--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\ndev\r\n--" + boundary +
            "--\r\n");
    }
    const auto concurrency = static_cast<int>(state.range(0));
    std::atomic<int> failures{0};
    for (auto _ : state) {
        std::vector<std::thread> clients;
        for (int c = 0; c < concurrency; ++c) {
            clients.emplace_back([&] {
                httplib::Client client("127.0.0.1", port);
                client.set_read_timeout(std::chrono::seconds(600));
                for (const auto& body : bodies) {
                    const auto res =
                        client.Post("/v1/transcribe", {{"Authorization", "Bearer " + token}}, body,
                                    ("multipart/form-data; boundary=" + boundary).c_str());
                    if (!res || res->status != 200) {
                        ++failures;
                    }
                }
            });
        }
        for (auto& t : clients) {
            t.join();
        }
    }
    const double requests = static_cast<double>(state.iterations()) * concurrency * bodies.size();
    state.counters["utterances_per_s"] = benchmark::Counter(requests, benchmark::Counter::kIsRate);
    state.counters["audio_s_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * concurrency * audioSeconds,
                           benchmark::Counter::kIsRate);
    state.counters["failures"] = failures.load();
    state.counters["decoders"] = static_cast<double>(cores());
    if (state.range(0) == 4) {
        server.stop();
        serving.join();
    }
}
BENCHMARK(BM_Throughput)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// The fair queue's cost per recognition (admission, choosing the next owner, handing over to
// its thread) with this many owners each keeping a request waiting, and a recogniser that
// does nothing, on two workers.
void BM_FairQueueAdmission(benchmark::State& state) {
    struct Instant : SpeechRecognizer {
        std::atomic<std::uint64_t> done{0};
        Result recognize(std::span<const std::int16_t>) override {
            ++done;
            return {true, {}, 0, {}};
        }
        std::string describe() const override { return "instant"; }
    } recognizer;
    FairRecognitionQueue queue(recognizer, {.workers = 2, .maxQueuedSeconds = 1e9});
    const std::vector<std::int16_t> samples(16000);
    std::atomic<bool> stop{false};
    std::vector<std::thread> owners;
    for (int i = 0; i < state.range(0); ++i) {
        owners.emplace_back([&, name = "device-" + std::to_string(i)] {
            while (!stop) {
                queue.recognize(name, samples);
            }
        });
    }
    constexpr std::uint64_t batch = 1000;
    for (auto _ : state) {
        const auto until = recognizer.done.load() + batch;
        while (recognizer.done.load() < until) {
            std::this_thread::yield();
        }
    }
    stop = true;
    for (auto& owner : owners) {
        owner.join();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
BENCHMARK(BM_FairQueueAdmission)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
