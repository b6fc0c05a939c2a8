#include "server/CrashStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

struct StoredReport {
    fs::path ips;
    std::string stem;  // "<millis>-<sequence>", zero-padded: sorts oldest first
    std::uint64_t bytes;
};

std::vector<StoredReport> reportsIn(const fs::path& folder) {
    std::vector<StoredReport> reports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".ips") {
            continue;
        }
        std::error_code sizeError;
        const auto size = entry.file_size(sizeError);
        reports.push_back({entry.path(), entry.path().stem().string(), sizeError ? 0 : size});
    }
    std::sort(reports.begin(), reports.end(),
              [](const StoredReport& a, const StoredReport& b) { return a.stem < b.stem; });
    return reports;
}

void removeReport(const StoredReport& report) {
    std::error_code ignored;
    fs::remove(report.ips, ignored);
    auto meta = report.ips;
    meta.replace_extension(".json");
    fs::remove(meta, ignored);
}

}  // namespace

CrashStore::CrashStore(fs::path root, std::size_t perDevice, std::uint64_t totalBytes)
    : root_(std::move(root)),
      perDevice_(std::max<std::size_t>(1, perDevice)),
      totalBytes_(totalBytes) {
}

bool CrashStore::store(const std::string& deviceIdHex, const Report& report, std::string* error) {
    const auto fail = [&](std::string reason) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return false;
    };
    if (deviceIdHex.empty() ||
        deviceIdHex.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return fail("invalid device id");
    }
    std::lock_guard lock(mutex_);
    const fs::path folder = root_ / deviceIdHex;
    if (!FileIo::makeFolders(folder, true)) {
        return fail("cannot create the crash report folder");
    }
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    char stem[64];
    std::snprintf(stem, sizeof stem, "%015lld-%08llu", static_cast<long long>(millis),
                  static_cast<unsigned long long>(++sequence_ % 100000000));
    const nlohmann::json meta = {
        {"app_version", report.appVersion}, {"os_version", report.osVersion},
        {"platform", report.platform},      {"received_unix_ms", millis},
        {"bytes", report.bytes.size()},
    };
    const fs::path ips = folder / (std::string(stem) + ".ips");
    const fs::path json = folder / (std::string(stem) + ".json");
    // The metadata may hold any bytes a client sent; dump() must not throw on invalid UTF-8.
    const std::string metaText = meta.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    if (!FileIo::replaceAtomically(ips, report.bytes, 0600) ||
        !FileIo::replaceAtomically(json, metaText + "\n", 0600)) {
        std::error_code ignored;
        fs::remove(ips, ignored);
        return fail("cannot write the crash report");
    }
    enforceCaps(folder);
    return true;
}

void CrashStore::enforceCaps(const fs::path& deviceFolder) {
    auto mine = reportsIn(deviceFolder);
    while (mine.size() > perDevice_) {
        removeReport(mine.front());
        mine.erase(mine.begin());
    }
    if (totalBytes_ == 0) {
        return;
    }
    std::vector<StoredReport> all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        if (entry.is_directory(ec)) {
            auto some = reportsIn(entry.path());
            all.insert(all.end(), some.begin(), some.end());
        }
    }
    std::sort(all.begin(), all.end(),
              [](const StoredReport& a, const StoredReport& b) { return a.stem < b.stem; });
    std::uint64_t total = 0;
    for (const auto& r : all) {
        total += r.bytes;
    }
    for (std::size_t i = 0; total > totalBytes_ && i + 1 < all.size(); ++i) {
        total -= all[i].bytes;
        removeReport(all[i]);
    }
}

}  // namespace sayloft
