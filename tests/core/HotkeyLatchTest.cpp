#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/hotkey/HotkeyLatch.h"

namespace sayloft {
namespace {

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
