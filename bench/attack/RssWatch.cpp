#include "RssWatch.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

namespace sayloft::bench {
namespace {

constexpr double kibPerMiB = 1024.0;

}  // namespace

std::optional<RssWatch::Status> RssWatch::read(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    Status status;
    bool found = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            status.rssKiB = std::stol(line.substr(6));
            found = true;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            status.hwmKiB = std::stol(line.substr(6));
        }
    }
    return found ? std::optional(status) : std::nullopt;
}

RssWatch::RssWatch(pid_t pid) : pid_(pid) {
    // "5" resets the peak resident size to the current one (proc(5), clear_refs).
    {
        std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
        clear << "5";
        clear.flush();
        hwmReset_ = static_cast<bool>(clear);
    }
    const auto status = read(pid);
    baselineKiB_ = status ? status->rssKiB : 0;
    peakKiB_ = baselineKiB_;
    sampler_ = std::thread([this] {
        while (!stop_) {
            if (const auto now = read(pid_)) {
                peakKiB_ = std::max(peakKiB_.load(), now->rssKiB);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

RssWatch::~RssWatch() {
    stop_ = true;
    if (sampler_.joinable()) {
        sampler_.join();
    }
}

double RssWatch::stopAndPeakGrowthMiB() {
    long peak = peakKiB_;
    if (const auto now = read(pid_)) {
        peak = std::max(peak, now->rssKiB);
        if (hwmReset_) {
            peak = std::max(peak, now->hwmKiB);
        }
    }
    stop_ = true;
    if (sampler_.joinable()) {
        sampler_.join();
    }
    return static_cast<double>(peak - baselineKiB_) / kibPerMiB;
}

std::optional<double> RssWatch::currentGrowthMiB() const {
    const auto now = read(pid_);
    if (!now) {
        return std::nullopt;
    }
    return static_cast<double>(now->rssKiB - baselineKiB_) / kibPerMiB;
}

}  // namespace sayloft::bench
