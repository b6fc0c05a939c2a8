#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace sayloft {

// Appends one line per successful dictation to a plain-text log:
//   2026-12-05T12:15:24Z<TAB>audio=3.2s<TAB>total=1234ms<LF>
// The time stamp is UTC in whole seconds; the audio length always has one decimal and a full
// stop, whatever the process locale. Nothing reads the file back. Every file-system error is
// swallowed: a dictation never fails because of its log. Calls must not overlap (the controller
// runs one dictation at a time).
class LatencyLog {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // logURL is normally <state home>/Sayloft/latency.log (see defaultLocation).
    explicit LatencyLog(std::filesystem::path logURL, Clock now = std::chrono::system_clock::now);

    static std::filesystem::path defaultLocation(const std::filesystem::path& stateHome);

    const std::filesystem::path& logURL() const { return logURL_; }
    void setLogURL(std::filesystem::path logURL) { logURL_ = std::move(logURL); }

    void record(double audioSeconds, std::int64_t totalMs) const;

    // The line record() writes for the given moment, including its line feed.
    static std::string formatLine(std::chrono::system_clock::time_point when, double audioSeconds,
                                  std::int64_t totalMs);

private:
    std::filesystem::path logURL_;
    Clock now_;
};

}  // namespace sayloft
