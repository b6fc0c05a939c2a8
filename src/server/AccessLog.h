#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string_view>

namespace sayloft {

// One line per request: UTC time, method, path (printable, at most 120 characters), status,
// bytes in and out, milliseconds. Never headers or bodies (no audio, text or tokens).
// Thread-safe.
class AccessLog {
public:
    explicit AccessLog(std::ostream& out) : out_(out) {}

    void write(std::string_view method, std::string_view path, int status, std::uint64_t bytesIn,
               std::uint64_t bytesOut, long long millis);
    // A message of the HTTP library. At most one a second is written (a flood of refused
    // connections would otherwise flood the log); how many were left out is said with the next.
    void note(std::string_view message);

private:
    std::ostream& out_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point lastNote_{};
    std::uint64_t notesLeftOut_ = 0;
};

}  // namespace sayloft
