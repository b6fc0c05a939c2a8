#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "core/diagnostics/CrashReporter.h"
#include "core/diagnostics/LatencyLog.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;
using Time = CrashReporter::Time;

void setModified(const fs::path& path, std::int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::vector<std::string> names(const std::vector<fs::path>& paths) {
    std::vector<std::string> result;
    for (const auto& path : paths) {
        result.push_back(path.filename().string());
    }
    return result;
}

using Names = std::vector<std::string>;

// Only this application's reports qualify, a folder named like one too but not a link without a
// date; only those strictly later than the last look, the newest three first.
TEST(CrashReporter, NewReports) {
    test::TempHome home;
    EXPECT_TRUE(CrashReporter::newReports(home.path() / "missing", std::nullopt).empty());
    for (const char* other :
         {"Sayloft.ips", "sayloft-1.ips", "Sayloft-1.IPS", "Other-1.ips", "Sayloft-1.ips.tmp"}) {
        setModified(home.write(other, "{}"), 9000);
    }
    fs::create_symlink(home.path() / "nowhere", home.path() / "Sayloft-dangling.ips");
    setModified(home.write("Sayloft-older.ips", "x"), 1999);
    setModified(home.write("Sayloft-2026-01-02-101010.ips", "x"), 2000, 500);
    setModified(home.write("Sayloft-a-hair-later.ips", "x"), 2000, 501);
    fs::create_directories(home.path() / "Sayloft-folder.ips");
    setModified(home.path() / "Sayloft-folder.ips", 2001);

    EXPECT_EQ(
        names(CrashReporter::newReports(home.path(), std::nullopt)),
        (Names{"Sayloft-folder.ips", "Sayloft-a-hair-later.ips", "Sayloft-2026-01-02-101010.ips"}));
    EXPECT_EQ(names(CrashReporter::newReports(home.path(),
                                              Time(std::chrono::nanoseconds(2000000000500)))),
              (Names{"Sayloft-folder.ips", "Sayloft-a-hair-later.ips"}));
}

// Only a regular file of ours is read: a link is not followed, a FIFO does not block.
TEST(CrashReporter, ReadsOnlyRegularFilesUpToTheCap) {
    test::TempHome home;
    const std::string full(CrashReporter::maxReportBytes, 'x');
    home.write("full.ips", full);
    home.write("empty.ips", "");
    home.write("larger.ips", full + "x");
    fs::create_symlink(home.path() / "full.ips", home.path() / "link.ips");
    fs::create_directories(home.path() / "folder.ips");
    ASSERT_EQ(::mkfifo((home.path() / "fifo.ips").c_str(), 0600), 0);
    EXPECT_EQ(CrashReporter::readReport(home.path() / "full.ips"),
              std::vector<std::uint8_t>(full.begin(), full.end()));
    EXPECT_EQ(CrashReporter::readReport(home.path() / "empty.ips"), std::vector<std::uint8_t>());
    for (const char* name : {"larger.ips", "link.ips", "folder.ips", "fifo.ips", "missing.ips"}) {
        EXPECT_EQ(CrashReporter::readReport(home.path() / name), std::nullopt) << name;
    }
}

using std::chrono::system_clock;

// 2026-12-05T12:15:24.900Z: the fraction must be cut, not rounded.
const system_clock::time_point fixedNow =
    system_clock::time_point(std::chrono::milliseconds(1796472924900));

// One line a call, appended, the time cut to the second and the audio rounded to a tenth; the
// first line creates the folder. A folder in place of the file is quietly ignored.
TEST(LatencyLog, AppendsOneLineACall) {
    test::TempHome home;
    const auto file = LatencyLog::defaultLocation(home.path() / "state");
    LatencyLog log(file, [] { return fixedNow; });
    std::string expected;
    for (const auto& [audio, total, fields] :
         std::vector<std::tuple<double, std::int64_t, std::string>>{
             {2.26, 1, "audio=2.3s\ttotal=1ms"},
             {0.04, 0, "audio=0.0s\ttotal=0ms"},
             {61.0, 70000, "audio=61.0s\ttotal=70000ms"},
             {0.25, -5, "audio=0.2s\ttotal=-5ms"}}) {
        log.record(audio, total);
        expected += "2026-12-05T12:15:24Z\t" + fields + "\n";
        EXPECT_EQ(test::readAll(file), expected);
    }
    const auto folder = home.path() / "latency.log";
    std::filesystem::create_directories(folder);
    log.setLogURL(folder);
    log.record(1.0, 1);  // must neither throw nor crash
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    log.setLogURL(home.path() / "elsewhere.log");
    log.record(1.0, 2);
    EXPECT_EQ(test::readAll(home.path() / "elsewhere.log"),
              "2026-12-05T12:15:24Z\taudio=1.0s\ttotal=2ms\n");
}

}  // namespace
}  // namespace sayloft
