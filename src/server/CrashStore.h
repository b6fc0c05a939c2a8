#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace sayloft {

// Keeps uploaded crash reports under <root>/<device id>/<time>-<n>.ips, each with a small
// <time>-<n>.json beside it (app_version, os_version, platform, received). Two caps bound the
// disk: at most perDevice reports per device and at most totalBytes over all devices, counting
// every file of a report (its metadata included, and anything else under its name). Room is
// made before a report is written, oldest reports first, so the files never add up to more than
// totalBytes (0: no byte cap); a report that alone would exceed it is refused. Thread-safe
// within one process, which must be the only writer under root.
class CrashStore {
public:
    CrashStore(std::filesystem::path root, std::size_t perDevice, std::uint64_t totalBytes);

    struct Report {
        std::string_view bytes;
        std::string_view appVersion;
        std::string_view osVersion;
        std::string_view platform;
    };
    // deviceIdHex must be the verified token's device id (hex digits only). False with a reason
    // when the report could not be written; nothing half-written stays behind.
    bool store(const std::string& deviceIdHex, const Report& report, std::string* error);

    const std::filesystem::path& root() const { return root_; }

private:
    // Removes the oldest reports until one more fits in the device's count and `needed` more
    // bytes fit in the total.
    void makeRoom(const std::filesystem::path& deviceFolder, std::uint64_t needed);

    std::filesystem::path root_;
    std::size_t perDevice_;
    std::uint64_t totalBytes_;
    std::uint64_t sequence_ = 0;
    std::mutex mutex_;
};

}  // namespace sayloft
