#include "core/diagnostics/CrashReporter.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/storage/FileDescriptor.h"

namespace sayloft {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool isReportName(std::string_view name) {
    return name.starts_with("Sayloft-") && name.ends_with(".ips");
}

CrashReporter::Time modificationTime(const struct stat& info) {
    using namespace std::chrono;
    const auto since1970 = seconds(info.st_mtim.tv_sec) + nanoseconds(info.st_mtim.tv_nsec);
    return CrashReporter::Time(duration_cast<CrashReporter::Time::duration>(since1970));
}

}  // namespace

std::filesystem::path CrashReporter::defaultDirectory(const std::filesystem::path& stateHome) {
    return stateHome / "Sayloft" / "DiagnosticReports";
}

std::vector<std::filesystem::path> CrashReporter::newReports(const std::filesystem::path& directory,
                                                             std::optional<Time> since) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) {
        return {};
    }
    struct Report {
        std::filesystem::path path;
        Time modified;
    };
    std::vector<Report> reports;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        // The folder holds other applications' files too: the name test comes first.
        if (!isReportName(name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0) {
            continue;
        }
        const Time modified = modificationTime(info);
        if (since && modified <= *since) {
            continue;
        }
        reports.push_back({directory / name, modified});
    }
    std::stable_sort(reports.begin(), reports.end(),
                     [](const Report& a, const Report& b) { return a.modified > b.modified; });
    if (reports.size() > maxPerLaunch) {
        reports.resize(maxPerLaunch);
    }
    std::vector<std::filesystem::path> paths;
    paths.reserve(reports.size());
    for (auto& report : reports) {
        paths.push_back(std::move(report.path));
    }
    return paths;
}

std::optional<std::vector<std::uint8_t>> CrashReporter::readReport(
    const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO named like a report must not wait for a writer.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > maxReportBytes) {
        return std::nullopt;
    }
    // Read one byte past the cap, so that a file that grew since fstat is still refused.
    std::vector<std::uint8_t> bytes(maxReportBytes + 1);
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    if (size > maxReportBytes) {
        return std::nullopt;
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace sayloft
