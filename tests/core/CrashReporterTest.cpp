#include <chrono>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "core/diagnostics/CrashReporter.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;
using Time = CrashReporter::Time;

Time at(std::int64_t seconds, std::int64_t nanoseconds = 0) {
    return Time(std::chrono::duration_cast<Time::duration>(std::chrono::seconds(seconds) +
                                                           std::chrono::nanoseconds(nanoseconds)));
}

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

// The order in which the file system lists the folder, for the names given.
std::vector<std::string> listingOrder(const fs::path& folder,
                                      const std::vector<std::string>& wanted) {
    std::vector<std::string> order;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = ::readdir(dir)) {
        if (std::find(wanted.begin(), wanted.end(), entry->d_name) != wanted.end()) {
            order.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return order;
}

using Names = std::vector<std::string>;

TEST(CrashReporter, AMissingFolderYieldsNothing) {
    test::TempHome home;
    EXPECT_TRUE(CrashReporter::newReports(home.path() / "missing", std::nullopt).empty());
}

TEST(CrashReporter, OnlyThisApplicationsReportsQualify) {
    test::TempHome home;
    for (const char* name : {"Sayloft-2026-01-02-101010.ips", "Sayloft.ips", "sayloft-1.ips",
                             "Sayloft-1.IPS", "Other-1.ips", "Sayloft-1.ips.tmp"}) {
        setModified(home.write(name, "{}"), 1000);
    }
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), std::nullopt)),
              Names{"Sayloft-2026-01-02-101010.ips"});
}

TEST(CrashReporter, NewestThreeFirst) {
    test::TempHome home;
    for (int i = 1; i <= 5; ++i) {
        setModified(home.write("Sayloft-" + std::to_string(i) + ".ips", "x"), 1000 + i * 10);
    }
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), std::nullopt)),
              (Names{"Sayloft-5.ips", "Sayloft-4.ips", "Sayloft-3.ips"}));
}

TEST(CrashReporter, OnlyStrictlyLaterThanTheLastLook) {
    test::TempHome home;
    setModified(home.write("Sayloft-same.ips", "x"), 2000, 500);
    setModified(home.write("Sayloft-later.ips", "x"), 2001, 500);
    setModified(home.write("Sayloft-a-hair-later.ips", "x"), 2000, 501);
    setModified(home.write("Sayloft-older.ips", "x"), 1999);
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), at(2000, 500))),
              (Names{"Sayloft-later.ips", "Sayloft-a-hair-later.ips"}));
}

TEST(CrashReporter, EqualDatesKeepTheListingOrder) {
    test::TempHome home;
    const Names equal = {"Sayloft-a.ips", "Sayloft-b.ips", "Sayloft-c.ips", "Sayloft-d.ips"};
    for (const auto& name : equal) {
        setModified(home.write(name, "x"), 3000);
    }
    auto expected = listingOrder(home.path(), equal);
    expected.resize(CrashReporter::maxPerLaunch);
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), at(2999))), expected);
}

TEST(CrashReporter, AFolderNamedLikeAReportQualifies) {
    test::TempHome home;
    const auto folder = home.path() / "Sayloft-folder.ips";
    fs::create_directories(folder);
    setModified(folder, 5000);
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), std::nullopt)),
              Names{"Sayloft-folder.ips"});
    // a dangling link has no readable date and is skipped
    fs::create_symlink(home.path() / "nowhere", home.path() / "Sayloft-dangling.ips");
    EXPECT_EQ(names(CrashReporter::newReports(home.path(), std::nullopt)),
              Names{"Sayloft-folder.ips"});
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
    struct Case {
        const char* name;
        std::optional<std::size_t> size;
    };
    for (const Case& c :
         {Case{"full.ips", full.size()}, Case{"empty.ips", 0}, Case{"larger.ips", std::nullopt},
          Case{"link.ips", std::nullopt}, Case{"folder.ips", std::nullopt},
          Case{"fifo.ips", std::nullopt}, Case{"missing.ips", std::nullopt}}) {
        const auto bytes = CrashReporter::readReport(home.path() / c.name);
        EXPECT_EQ(bytes ? std::optional(bytes->size()) : std::nullopt, c.size) << c.name;
    }
}

}  // namespace
}  // namespace sayloft
