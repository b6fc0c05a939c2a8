#include <cmath>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "core/hotkey/HotkeyCookie.h"
#include "core/hotkey/HotkeyLatch.h"

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

using Action = HotkeyLatch::Action;

// One call on a latch with a 90-second limit: a key-down or key-up at a time, a time-out check
// at a time, or a forced release; then what it answered and whether the key counts as down.
struct Step {
    enum Call { down, up, check, force } call;
    double now;
    Action expected;
    bool downAfter;
};

TEST(HotkeyLatch, FollowsTheStateTable) {
    const double nan = std::nan("");
    const std::vector<std::pair<const char*, std::vector<Step>>> scenarios = {
        {"press, repeated down, release, stray up, press again",
         {{Step::up, 1, Action::none, false},
          {Step::down, 2, Action::press, true},
          {Step::down, 3, Action::none, true},
          {Step::up, 4, Action::release, false},
          {Step::up, 5, Action::none, false},
          {Step::down, 6, Action::press, true}}},
        {"a repeated down keeps the first press time",
         {{Step::down, 1000, Action::press, true},
          {Step::down, 1050, Action::none, true},
          {Step::check, 1090.5, Action::timeout, false}}},
        {"the time-out is strictly longer than the limit; the late key-up is ignored",
         {{Step::down, 1000, Action::press, true},
          {Step::check, 1090, Action::none, true},
          {Step::check, 1090.001, Action::timeout, false},
          {Step::up, 1091, Action::none, false},
          {Step::check, 5000, Action::none, false}}},
        {"a clock set back never times out",
         {{Step::down, 1000, Action::press, true},
          {Step::check, 10, Action::none, true},
          {Step::check, nan, Action::none, true},
          {Step::force, 0, Action::timeout, false}}},
        {"a forced release aborts only a held key",
         {{Step::force, 0, Action::none, false},
          {Step::down, 1, Action::press, true},
          {Step::force, 0, Action::timeout, false},
          {Step::down, 2, Action::press, true}}},
    };
    for (const auto& [name, steps] : scenarios) {
        HotkeyLatch latch(90.0);
        for (const Step& step : steps) {
            SCOPED_TRACE(std::string(name) + " at t=" + std::to_string(step.now));
            const Action action = step.call == Step::check ? latch.checkTimeout(step.now)
                                  : step.call == Step::force
                                      ? latch.forceRelease()
                                      : latch.update(step.call == Step::down, step.now);
            EXPECT_EQ(action, step.expected);
            EXPECT_EQ(latch.isDown(), step.downAfter);
        }
    }
}

}  // namespace
}  // namespace sayloft
