#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "server/CrashStore.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

std::uint64_t bytesUnder(const fs::path& root) {
    std::uint64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        total += entry.is_regular_file() ? entry.file_size() : 0;
    }
    return total;
}

std::vector<std::string> reportsOf(const fs::path& folder) {
    std::vector<std::string> bodies;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".ips") {
            bodies.push_back(test::readAll(entry.path()));
        }
    }
    std::sort(bodies.begin(), bodies.end());
    return bodies;
}

CrashStore::Report report(std::string_view bytes, std::string_view osVersion = "Debian 12") {
    return {bytes, "0.1.0", osVersion, "linux"};
}

TEST(CrashStore, TheTotalOnDiskNeverExceedsTheCapMetadataIncluded) {
    const test::TempHome home;
    const std::uint64_t cap = 4000;
    CrashStore store(home.path(), 100, cap);
    const std::string body(500, 'x');
    const std::string longOs(600, 'o');  // metadata may outweigh the report itself
    for (int i = 0; i < 30; ++i) {
        const std::string device = i % 2 == 0 ? "aa" : "bb";
        ASSERT_TRUE(store.store(device, report(body, i % 3 == 0 ? longOs : "Debian 12"), nullptr));
        EXPECT_LE(bytesUnder(home.path()), cap) << i;
    }
    EXPECT_FALSE(reportsOf(home.path() / "bb").empty());  // the newest report is kept

    std::string error;
    EXPECT_FALSE(store.store("cc", report(std::string(cap, 'y')), &error));
    EXPECT_NE(error.find("exceed"), std::string::npos) << error;
    EXPECT_LE(bytesUnder(home.path()), cap);
    EXPECT_FALSE(fs::exists(home.path() / "cc"));
}

TEST(CrashStore, EachDeviceKeepsItsNewestReportsCountingLeftoverFiles) {
    const test::TempHome home;
    // A metadata file whose report is gone (a crash between the two writes) is a report too.
    home.write("aa/000000000000000-00000000.json", "{}", fs::perms(0600));
    CrashStore store(home.path(), 2, 0);
    for (const char* body : {"first", "second", "third"}) {
        ASSERT_TRUE(store.store("aa", report(body), nullptr));
    }
    ASSERT_TRUE(store.store("bb", report("other"), nullptr));
    EXPECT_EQ(reportsOf(home.path() / "aa"), (std::vector<std::string>{"second", "third"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path() / "aa"), fs::directory_iterator()),
              4);
    EXPECT_EQ(reportsOf(home.path() / "bb"), std::vector<std::string>{"other"});
    EXPECT_FALSE(store.store("../aa", report("escape"), nullptr));
}

}  // namespace
}  // namespace sayloft
