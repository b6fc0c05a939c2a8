// sayloft-server under load, black-box over HTTP: 1, 4 and 16 clients, each with its own token
// and keep-alive connection, sending a 3 s utterance back to back; then the same through HAProxy
// in front of one and two replicas, and two with one replica killed halfway. Prints a Markdown
// table: audio seconds recognised per second of wall time, request latency (p50, p99), failures
// with and without the client's one retry, the servers' peak resident memory. Exits 0 whatever
// the figures (it is a measurement), 1 when a server or HAProxy does not start.
//
//   build/ci/bench/sayloft_load_bench [--seconds D] [--haproxy-config PATH | --no-haproxy]
//                                     [path/to/sayloft-server]
//
// D (default 60) is the length of each row. The HAProxy rows run when `haproxy` is installed;
// the configuration (default bench/load/haproxy-bench.cfg) takes its ports from the environment
// (see HaproxyProcess.h). Those replicas get one decoder each, so on a small machine the rows
// show the cost of a replica, not a speed-up.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "HaproxyProcess.h"
#include "LoadRun.h"
#include "ReplicaSet.h"
#include "ServerProcess.h"
#include "TestForms.h"

namespace {

using namespace sayloft;
using namespace sayloft::bench;

constexpr double utteranceSeconds = 3.0;
constexpr int sampleRate = 16000;

struct Row {
    std::string setup;
    LoadFigures figures;
};

// Exactly 3 s of speech from flite's slt voice (padded with silence, or cut), or a 3 s tone
// without flite; `note` says which.
std::string utterance(std::string& note) {
    const std::string sentence = "please send the weekly report to the team";
    const auto file = std::filesystem::temp_directory_path() /
                      ("sayloft-load-bench-" + std::to_string(::getpid()) + ".wav");
    const std::string command =
        "flite -voice slt -t \"" + sentence + "\" -o " + file.string() + " 2>/dev/null";
    std::vector<std::int16_t> samples;
    if (std::system(command.c_str()) == 0) {
        try {
            samples = test::TestForms::readWav16(file.string());
            char spoken[96];
            std::snprintf(spoken, sizeof spoken, "spoken by flite in %.1f s, padded or cut to 3 s",
                          static_cast<double>(samples.size()) / sampleRate);
            note = "\"" + sentence + "\" " + spoken;
        } catch (const std::exception&) {
            samples.clear();
        }
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    if (samples.empty()) {
        samples = test::TestForms::tone(utteranceSeconds);
        note = "a 3 s tone (no flite)";
    }
    samples.resize(static_cast<std::size_t>(utteranceSeconds * sampleRate), 0);
    return test::TestForms::wav16(samples, sampleRate);
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    in >> one >> five >> fifteen;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

class Bench {
public:
    Bench(std::chrono::milliseconds rowLength, std::string body, std::string contentType)
        : rowLength_(rowLength), body_(std::move(body)), contentType_(std::move(contentType)) {}

    // One row: `clients` clients against `baseUrl` (each decoder warmed up first, so that its
    // first allocation is not in the figures).
    void measure(const std::string& setup, const std::string& baseUrl,
                 const std::vector<std::string>& tokens, std::vector<pid_t> servers,
                 std::function<void()> midway = {}) {
        std::fprintf(stderr, "%s, %zu clients, %.0f s (load average %s) ...\n", setup.c_str(),
                     tokens.size(), rowLength_.count() / 1000.0, loadAverage().c_str());
        LoadRun run{baseUrl,      tokens,           &body_,
                    contentType_, utteranceSeconds, std::move(servers),
                    rowLength_,   std::move(midway)};
        rows_.push_back({setup, run.run()});
        const auto& f = rows_.back().figures;
        std::fprintf(stderr, "  %d requests, %d failed first, %d after retry%s%s\n", f.requests,
                     f.failedFirstTry, f.failedAfterRetry,
                     f.lastFailure.empty() ? "" : "; last: ", f.lastFailure.c_str());
    }

    void warmUp(const std::string& baseUrl, const std::vector<std::string>& tokens) {
        LoadRun{baseUrl,
                tokens,
                &body_,
                contentType_,
                utteranceSeconds,
                {},
                std::chrono::milliseconds(200),
                {}}
            .run();
    }

    void print() const {
        std::printf(
            "| setup | clients | requests | audio s recognised / s | p50 ms | p99 ms | "
            "failed, no retry | failed after one retry | server RSS peak, MiB |\n"
            "|---|---|---|---|---|---|---|---|---|\n");
        for (const auto& [setup, f] : rows_) {
            std::printf("| %s | %d | %d | %.2f | %.0f | %.0f | %d | %d | %.0f |\n", setup.c_str(),
                        f.clients, f.requests, f.audioSecondsPerSecond, f.p50Ms, f.p99Ms,
                        f.failedFirstTry, f.failedAfterRetry, f.peakRssMiB);
        }
    }

private:
    std::chrono::milliseconds rowLength_;
    std::string body_, contentType_;
    std::vector<Row> rows_;
};

std::vector<std::string> prefix(const std::vector<std::string>& tokens, int count) {
    return {tokens.begin(), tokens.begin() + count};
}

// The direct rows: one server with its default decoders (one per core).
bool direct(Bench& bench) {
    ReplicaSet server(1, 0);
    std::string error;
    const auto tokens =
        server.started(error) ? server.registerTokens(16) : std::vector<std::string>{};
    if (tokens.empty()) {
        std::fprintf(stderr, "%s\n", error.empty() ? "no tokens issued" : error.c_str());
        return false;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(server.at(0).port());
    bench.warmUp(url, prefix(tokens, 2));
    for (const int clients : {1, 4, 16}) {
        bench.measure("direct, default decoders (" +
                          std::to_string(std::thread::hardware_concurrency()) + ")",
                      url, prefix(tokens, clients), server.pids());
    }
    return true;
}

// A row through HAProxy: `replicas` replicas of one decoder each; with `killOne`, the second
// replica is killed (SIGKILL) halfway through.
bool proxied(Bench& bench, const std::string& config, int replicas, bool killOne, int clients) {
    ReplicaSet set(replicas, 1);
    std::string error;
    auto tokens = set.started(error) ? set.registerTokens(clients) : std::vector<std::string>{};
    if (tokens.empty()) {
        std::fprintf(stderr, "%s\n", error.empty() ? "no tokens issued" : error.c_str());
        return false;
    }
    std::vector<int> ports;
    for (int i = 0; i < replicas; ++i) {
        ports.push_back(set.at(i).port());
    }
    HaproxyProcess proxy(config, ports);
    if (!proxy.ready(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    bench.warmUp(proxy.baseUrl(), prefix(tokens, replicas));
    std::string setup = "HAProxy, " + std::to_string(replicas) + " replica" +
                        (replicas > 1 ? "s" : "") + " x 1 decoder";
    std::function<void()> midway;
    if (killOne) {
        setup += ", one killed halfway";
        midway = [&set] {
            set.at(1).signal(SIGKILL);
            std::fprintf(stderr, "  killed replica 2 (pid %d)\n", set.at(1).pid());
        };
    }
    bench.measure(setup, proxy.baseUrl(), tokens, set.pids(), midway);
    return true;
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--seconds D] [--haproxy-config PATH | --no-haproxy] "
                 "[path/to/sayloft-server]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    std::optional<std::string> config = std::string(SAYLOFT_LOAD_HAPROXY_CONFIG);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
            if (seconds <= 0) {
                return usage(argv[0]);
            }
        } else if (arg == "--haproxy-config" && i + 1 < argc) {
            config = argv[++i];
        } else if (arg == "--no-haproxy") {
            config.reset();
        } else if (arg.rfind("-", 0) == 0) {
            return usage(argv[0]);
        } else {
            test::ServerProcess::useBinary(arg);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    const std::string boundary = test::TestForms::newBoundary();
    std::string audioNote;
    Bench bench(std::chrono::milliseconds(static_cast<long>(seconds * 1000)),
                test::TestForms::transcribeBody(boundary, utterance(audioNote)),
                test::TestForms::contentType(boundary));
    const std::string loadBefore = loadAverage();
    const auto began = std::chrono::steady_clock::now();
    if (!direct(bench)) {
        return 1;
    }
    std::string proxyNote;
    if (!config || !std::filesystem::exists(*config)) {
        proxyNote = config ? "no HAProxy rows: " + *config + " not found" : "no HAProxy rows";
    } else if (!HaproxyProcess::available()) {
        proxyNote = "no HAProxy rows: haproxy is not installed";
    } else {
        constexpr int clients = 4;
        if (!proxied(bench, *config, 1, false, clients) ||
            !proxied(bench, *config, 2, false, clients) ||
            !proxied(bench, *config, 2, true, clients)) {
            return 1;
        }
        proxyNote = "HAProxy configuration " + *config;
    }
    bench.print();
    const auto total = std::chrono::duration<double>(std::chrono::steady_clock::now() - began);
    std::printf(
        "\n(%.0f s per row, %.0f s in all; each request %s; latency of the requests answered "
        "200, the retry included; %u cores, load average before %s, after %s; %s)\n",
        seconds, total.count(), audioNote.c_str(), std::thread::hardware_concurrency(),
        loadBefore.c_str(), loadAverage().c_str(), proxyNote.c_str());
    return 0;
}
