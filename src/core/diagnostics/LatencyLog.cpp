#include "core/diagnostics/LatencyLog.h"

#include <charconv>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

std::string isoTimestamp(std::chrono::system_clock::time_point when) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
    const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char text[32];
    const auto length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

// printf("%.1f") without the locale's decimal separator.
std::string oneDecimal(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

}  // namespace

LatencyLog::LatencyLog(std::filesystem::path logURL, Clock now)
    : logURL_(std::move(logURL)), now_(std::move(now)) {
}

std::filesystem::path LatencyLog::defaultLocation(const std::filesystem::path& stateHome) {
    return stateHome / "Sayloft" / "latency.log";
}

std::string LatencyLog::formatLine(std::chrono::system_clock::time_point when, double audioSeconds,
                                   std::int64_t totalMs) {
    return isoTimestamp(when) + "\taudio=" + oneDecimal(audioSeconds) +
           "s\ttotal=" + std::to_string(totalMs) + "ms\n";
}

void LatencyLog::record(double audioSeconds, std::int64_t totalMs) const {
    const std::string line = formatLine(now_(), audioSeconds, totalMs);
    FileIo::makeFolders(logURL_.parent_path());
    // Appends, creating the file when it is missing; an existing log is never truncated.
    const int fd = ::open(logURL_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    // One write of a short line to an O_APPEND file lands whole or not at all in practice; a
    // short write loses the rest of the line, which the log accepts.
    [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace sayloft
