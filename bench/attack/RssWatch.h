#pragma once

#include <atomic>
#include <optional>
#include <thread>

#include <sys/types.h>

namespace sayloft::bench {

// The resident memory of another process while something happens to it: the baseline when the
// watch starts, the peak meanwhile (its VmRSS sampled every few milliseconds and the kernel's own
// high-water mark VmHWM, which the watch resets at its start through clear_refs), and the memory
// still held later. Figures are MiB over the baseline.
class RssWatch {
public:
    explicit RssWatch(pid_t pid);
    ~RssWatch();
    RssWatch(const RssWatch&) = delete;
    RssWatch& operator=(const RssWatch&) = delete;

    // Stops sampling; the peak growth over the baseline.
    double stopAndPeakGrowthMiB();
    // The growth now (nullopt once the process is gone).
    std::optional<double> currentGrowthMiB() const;

    // VmRSS and VmHWM in KiB, or nullopt when the process is gone.
    struct Status {
        long rssKiB = 0;
        long hwmKiB = 0;
    };
    static std::optional<Status> read(pid_t pid);

private:
    pid_t pid_;
    long baselineKiB_ = 0;
    bool hwmReset_ = false;
    std::atomic<long> peakKiB_{0};
    std::atomic<bool> stop_{false};
    std::thread sampler_;
};

}  // namespace sayloft::bench
