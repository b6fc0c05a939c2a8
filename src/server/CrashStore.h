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
// disk: at most perDevice reports per device and at most totalBytes over all devices; past
// either, the oldest reports go first (the newest report is always kept). Thread-safe within
// one process.
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
    void enforceCaps(const std::filesystem::path& deviceFolder);

    std::filesystem::path root_;
    std::size_t perDevice_;
    std::uint64_t totalBytes_;
    std::uint64_t sequence_ = 0;
    std::mutex mutex_;
};

}  // namespace sayloft
