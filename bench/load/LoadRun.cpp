#include "LoadRun.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#include "LoadClient.h"
#include "RssWatch.h"

namespace sayloft::bench {
namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace

LoadFigures LoadRun::run() const {
    using Clock = LoadClient::Clock;
    // Each watch resets its server's high-water mark, so the peak is this row's.
    std::vector<std::unique_ptr<RssWatch>> watches;
    std::vector<long> baselineKiB;
    for (const pid_t pid : servers) {
        const auto status = RssWatch::read(pid);
        baselineKiB.push_back(status ? status->rssKiB : 0);
        watches.push_back(std::make_unique<RssWatch>(pid));
    }

    const auto began = Clock::now();
    const auto deadline = began + duration;
    std::vector<LoadClient::Result> results(tokens.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = LoadClient(baseUrl, tokens[i], *body, contentType).run(deadline);
        });
    }
    if (midway) {
        std::this_thread::sleep_until(began + duration / 2);
        midway();
    }
    for (auto& thread : threads) {
        thread.join();
    }

    LoadFigures figures;
    figures.clients = static_cast<int>(tokens.size());
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::vector<double> latencies;
    for (const auto& r : results) {
        figures.requests += r.requests;
        figures.succeeded += r.succeeded;
        figures.failedFirstTry += r.failedFirstTry;
        figures.failedAfterRetry += r.failedAfterRetry;
        latencies.insert(latencies.end(), r.latenciesMs.begin(), r.latenciesMs.end());
        if (!r.lastFailure.empty()) {
            figures.lastFailure = r.lastFailure;
        }
    }
    figures.p50Ms = percentile(latencies, 0.50);
    figures.p99Ms = percentile(latencies, 0.99);
    figures.audioSecondsPerSecond =
        figures.succeeded * utteranceSeconds / std::max(figures.wallSeconds, 1e-9);
    for (std::size_t i = 0; i < watches.size(); ++i) {
        const double peak =
            static_cast<double>(baselineKiB[i]) / 1024.0 + watches[i]->stopAndPeakGrowthMiB();
        figures.peakRssMiB = std::max(figures.peakRssMiB, peak);
    }
    return figures;
}

}  // namespace sayloft::bench
