#include <filesystem>
#include <map>
#include <sstream>
#include <string>
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

TEST(HotkeyCookie, RefusesAFolderOthersCanEnterReadsNoGarbageMatchesOnlyTheWholeCookie) {
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
    EXPECT_TRUE(HotkeyCookie::matches("abc", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("abd", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("ab", "abc"));
    EXPECT_FALSE(HotkeyCookie::matches("", ""));  // no cookie written: nothing is accepted
}

using Action = HotkeyLatch::Action;

// Scenarios on a latch with a 90-second limit, one step a word: the call (d key-down, u key-up,
// c time-out check, f forced release), its time, and the answer (- none, p press, r release,
// t timeout). The key counts as down from a press to a release or a time-out.
TEST(HotkeyLatch, FollowsTheStateTable) {
    const std::pair<const char*, const char*> scenarios[] = {
        {"press, repeated down, release, stray up, press again", "u1- d2p d3- u4r u5- d6p"},
        {"a repeated down keeps the first press time", "d1000p d1050- c1090.5t"},
        {"the time-out is strictly longer than the limit; the late key-up is ignored",
         "d1000p c1090- c1090.001t u1091- c5000-"},
        {"a clock set back never times out", "d1000p c10- cnan- f0t"},
        {"a forced release aborts only a held key", "f0- d1p f0t d2p"},
    };
    const std::map<char, Action> answers = {
        {'-', Action::none}, {'p', Action::press}, {'r', Action::release}, {'t', Action::timeout}};
    for (const auto& [name, steps] : scenarios) {
        HotkeyLatch latch(90.0);
        bool down = false;
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            SCOPED_TRACE(std::string(name) + ": " + step);
            const double now = std::stod(step.substr(1, step.size() - 2));
            const Action action = step[0] == 'c'   ? latch.checkTimeout(now)
                                  : step[0] == 'f' ? latch.forceRelease()
                                                   : latch.update(step[0] == 'd', now);
            EXPECT_EQ(action, answers.at(step.back()));
            down = step.back() == 'p' || (down && step.back() == '-');
            EXPECT_EQ(latch.isDown(), down);
        }
    }
}

}  // namespace
}  // namespace sayloft
