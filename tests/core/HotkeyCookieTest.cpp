#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "core/hotkey/HotkeyCookie.h"

namespace sayloft {
namespace {

using test::TempHome;
namespace fs = std::filesystem;

TEST(HotkeyCookie, WrittenPrivatelyReadBackAndNewAtEveryStart) {
    TempHome home;
    const fs::path path = HotkeyCookie::location(home.path() / "runtime");
    EXPECT_EQ(path, home.path() / "runtime" / "sayloft" / "hotkey-cookie");
    EXPECT_EQ(HotkeyCookie::read(path), std::nullopt);

    const auto first = HotkeyCookie::create(path);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size(), 64u);
    EXPECT_EQ(HotkeyCookie::read(path), first);
    EXPECT_EQ(fs::status(path.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const auto second = HotkeyCookie::create(path);
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(second, first);
    EXPECT_EQ(HotkeyCookie::read(path), second);
}

TEST(HotkeyCookie, RefusesAFolderOthersCanEnterAndReadsNoGarbage) {
    TempHome home;
    EXPECT_EQ(HotkeyCookie::location({}), fs::path());
    EXPECT_EQ(HotkeyCookie::create({}), std::nullopt);

    const fs::path open = home.path() / "open" / "hotkey-cookie";
    fs::create_directories(open.parent_path());
    ::chmod(open.parent_path().c_str(), 0755);
    EXPECT_EQ(HotkeyCookie::create(open), std::nullopt);
    EXPECT_FALSE(fs::exists(open));

    for (const char* garbage : {"", "short", "ZZ"}) {
        const auto file = home.write("garbage", garbage);
        EXPECT_EQ(HotkeyCookie::read(file), std::nullopt) << garbage;
    }
}

TEST(HotkeyCookie, MatchesOnlyTheWholeCookie) {
    EXPECT_TRUE(HotkeyCookie::matches("abc", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("abd", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("ab", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("", ""));  // no cookie written: nothing is accepted
}

}  // namespace
}  // namespace sayloft
