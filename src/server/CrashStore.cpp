#include "server/CrashStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

// One report as it lies on disk: every file of its folder whose name starts with its stem
// ("<millis>-<sequence>", zero-padded, so stems sort oldest first): the report, its metadata, and
// whatever else shares the stem (a temporary file a crash left behind).
struct StoredReport {
    std::string stem;
    std::vector<fs::path> files;
    std::uint64_t bytes = 0;
};

std::vector<StoredReport> reportsIn(const fs::path& folder) {
    std::map<std::string, StoredReport> byStem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code sizeError;
        if (!entry.is_regular_file(sizeError)) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        const std::string stem = name.substr(0, name.find('.'));
        const auto size = entry.file_size(sizeError);
        StoredReport& report = byStem[stem];
        report.stem = stem;
        report.files.push_back(entry.path());
        report.bytes += sizeError ? 0 : size;
    }
    std::vector<StoredReport> reports;
    for (auto& [stem, report] : byStem) {
        reports.push_back(std::move(report));
    }
    return reports;
}

void removeReport(const StoredReport& report) {
    std::error_code ignored;
    for (const auto& file : report.files) {
        fs::remove(file, ignored);
    }
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
    const std::string metaText =
        meta.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const std::uint64_t needed = report.bytes.size() + metaText.size();
    if (totalBytes_ != 0 && needed > totalBytes_) {
        return fail("the crash report and its details (" + std::to_string(needed) +
                    " bytes) exceed the space kept for crash reports (" +
                    std::to_string(totalBytes_) + " bytes)");
    }
    if (!FileIo::makeFolders(folder, true)) {
        return fail("cannot create the crash report folder");
    }
    makeRoom(folder, needed);
    if (!FileIo::replaceAtomically(ips, report.bytes, 0600) ||
        !FileIo::replaceAtomically(json, metaText, 0600)) {
        std::error_code ignored;
        fs::remove(ips, ignored);
        fs::remove(json, ignored);
        return fail("cannot write the crash report");
    }
    return true;
}

void CrashStore::makeRoom(const fs::path& deviceFolder, std::uint64_t needed) {
    auto mine = reportsIn(deviceFolder);
    for (std::size_t i = 0; mine.size() - i >= perDevice_; ++i) {
        removeReport(mine[i]);
    }
    if (totalBytes_ == 0) {
        return;
    }
    std::vector<StoredReport> all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        if (entry.is_directory(ec)) {
            auto some = reportsIn(entry.path());
            all.insert(all.end(), std::make_move_iterator(some.begin()),
                       std::make_move_iterator(some.end()));
        }
    }
    std::sort(all.begin(), all.end(),
              [](const StoredReport& a, const StoredReport& b) { return a.stem < b.stem; });
    std::uint64_t total = 0;
    for (const auto& r : all) {
        total += r.bytes;
    }
    for (std::size_t i = 0; i < all.size() && total > totalBytes_ - needed; ++i) {
        total -= all[i].bytes;
        removeReport(all[i]);
    }
}

}  // namespace sayloft
