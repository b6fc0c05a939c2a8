#include <vector>

#include <gtest/gtest.h>

#include "TestDisplay.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"

namespace sayloft {
namespace {

using test::TestDisplay;
using test::waitUntil;
using Events = std::vector<std::uint64_t>;  // key code, flags; key code, flags; ...

constexpr std::uint64_t opt = ModifierFlag::option;
constexpr std::uint64_t ctl = ModifierFlag::control;
constexpr std::uint64_t cmd = ModifierFlag::command;

class XInputKeyEventMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { keys.releaseAll(); }
    void TearDown() override { keys.releaseAll(); }

    KeyEventMonitor::MonitorId installRecorder() {
        const auto id = monitor.install([this](const ModifierEvent& e) {
            events.insert(events.end(), {e.keyCode, e.flags});
        });
        EXPECT_TRUE(id.has_value());
        return id.value_or(0);
    }
    // Keys as the person presses them: +keycode down, -keycode up.
    void play(const std::vector<int>& strokes) {
        for (const int stroke : strokes) {
            stroke > 0 ? keys.press(static_cast<unsigned>(stroke))
                       : keys.release(static_cast<unsigned>(-stroke));
        }
    }

    TestDisplay keys;
    XInputKeyEventMonitor monitor;
    Events events;
};

TEST_F(XInputKeyEventMonitorTest, ReportsTheTableKeysWithTheFlagsOfEveryKeyDown) {
    struct Row {
        const char* name;
        std::vector<int> beforeInstall;  // strokes while nothing (or a removed monitor) listens
        std::vector<int> strokes;
        Events expected;
    };
    const Row rows[] = {
        {"every table key, down and up",
         {},
         {108, -108, 64, -64, 134, -134, 133, -133, 105, -105, 37, -37},
         // Right and Left Alt, Right and Left Super, Right and Left Control
         {61, opt, 61, 0, 58, opt, 58, 0, 54, cmd, 54, 0,
          55, cmd, 55, 0, 62, ctl, 62, 0, 59, ctl, 59, 0}},
        {"Left Alt held keeps the option flag when Right Alt goes up",
         {},
         {64, 108, -108, -64},
         {58, opt, 61, opt, 61, opt, 58, 0}},
        {"flags combine across families", {}, {37, 134, -37}, {59, ctl, 54, ctl | cmd, 59, cmd}},
        {"A and Shift are not reported", {}, {38, -38, 50, -50, 108}, {61, opt}},
        {"a key down before install counts", {64}, {108, -108, -64}, {61, opt, 61, opt, 58, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        keys.releaseAll();
        events.clear();
        // A removed monitor is called no more (its events would come twice), and a later
        // install reads the key state afresh.
        monitor.remove(installRecorder());
        play(row.beforeInstall);
        const auto id = installRecorder();
        play(row.strokes);
        ASSERT_TRUE(waitUntil([&] { return events.size() >= row.expected.size(); }));
        EXPECT_EQ(events, row.expected);
        monitor.remove(id);
        monitor.remove(id);  // unknown ids are ignored
    }
}

TEST(XInputKeyEventMonitorNoDisplayTest, UntrustedAndInstallsNothing) {
    XInputKeyEventMonitor monitor(":999");
    EXPECT_FALSE(monitor.isTrusted());
    EXPECT_EQ(monitor.install([](const ModifierEvent&) {}), std::nullopt);
}

}  // namespace
}  // namespace sayloft
