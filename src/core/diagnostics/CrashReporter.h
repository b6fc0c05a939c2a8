#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace sayloft {

// Finds this application's crash reports ("Sayloft-*.ips") written since the last look, and reads
// one for its upload. It never moves or deletes a report.
struct CrashReporter {
    using Time = std::chrono::system_clock::time_point;

    static constexpr std::size_t maxPerLaunch = 3;
    // A report of the crash handler is a few kilobytes; a larger file is not one of ours.
    static constexpr std::size_t maxReportBytes = 256 * 1024;

    // <state home>/Sayloft/DiagnosticReports, where the crash handler writes.
    static std::filesystem::path defaultDirectory(const std::filesystem::path& stateHome);

    // At most maxPerLaunch entries of directory whose name begins with "Sayloft-" and ends with
    // ".ips" (case-sensitive) and whose modification time is readable and strictly later than
    // since (any time when since is absent); newest first, equal times in listing order. Every
    // error yields fewer results, never a failure.
    static std::vector<std::filesystem::path> newReports(const std::filesystem::path& directory,
                                                         std::optional<Time> since);

    // The whole report, when path names a regular file (a symbolic link is not followed) of at
    // most maxReportBytes; nullopt for anything else or any error. Never blocks on a FIFO.
    static std::optional<std::vector<std::uint8_t>> readReport(const std::filesystem::path& path);
};

}  // namespace sayloft
