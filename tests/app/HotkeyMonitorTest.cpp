#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/HotkeyMonitor.h"
#include "app/HotkeyRelay.h"
#include "fakes/FakeKeyEventMonitor.h"
#include "fakes/FakeSessionEvents.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

constexpr std::uint64_t alt = ModifierFlag::option;
constexpr std::uint64_t super = ModifierFlag::command;
constexpr std::uint64_t ctrl = ModifierFlag::control;

class HotkeyMonitorTest : public ::testing::Test {
protected:
    HotkeyMonitorTest() {
        monitor.onPress = [this] { events.push_back("press"); };
        monitor.onRelease = [this] { events.push_back("release"); };
        monitor.onAbort = [this] { events.push_back("abort"); };
        monitor.onUnavailable = [this] { events.push_back("unavailable"); };
    }

    // Sends a key change and runs what it posted.
    void key(std::uint16_t code, std::uint64_t flags) {
        keys.send(code, flags);
        loop.runUntilIdle();
    }

    VirtualRunLoop loop;
    FakeKeyEventMonitor keys;
    FakeSessionEvents session;
    FakeUserDefaults defaults;
    HotkeyMonitor monitor{loop, keys, session, defaults};
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST_F(HotkeyMonitorTest, TwinKeyRule) {
    monitor.start();
    // Left Alt pressed and released during a Right Alt hold: no event for 61, nothing happens.
    key(61, alt);
    key(58, alt);
    key(58, alt);
    EXPECT_EQ(events, (Events{"press"}));
    // Right Alt released while Left Alt is still held: the flag is still set, no release.
    key(61, alt);
    EXPECT_EQ(events, (Events{"press"}));
    // Another modifier changing while the hotkey is held reports nothing either.
    key(61, alt | ctrl);
    EXPECT_EQ(events, (Events{"press"}));
    // A later event for 61 without the flag ends the hold.
    key(61, 0);
    EXPECT_EQ(events, (Events{"press", "release"}));
}

TEST_F(HotkeyMonitorTest, StoredKeyCodesAreReadAtEveryEvent) {
    struct Row {
        std::optional<std::int64_t> stored;
        std::uint16_t pressed;
        std::uint64_t flag;
        bool fires;
    };
    const Row rows[] = {
        {54, 54, super, true},                   // Right Super
        {63, 63, ModifierFlag::function, true},  // Fn, where a keyboard reports it
        {63, 63, alt, false},                    // Fn is tested against its own flag
        {56, 56, ModifierFlag::shift, false},    // Shift is not in the table
        {70000, 61, alt, true},                  // out of range: the default
        {std::nullopt, 61, alt, true},           // Right Alt by default, not Left Alt
        {std::nullopt, 58, alt, false},
    };
    monitor.start();
    for (const auto& row : rows) {
        if (row.stored) {
            defaults.setInteger("hotkeyKeyCode", *row.stored);
        } else {
            defaults.remove("hotkeyKeyCode");
        }
        events.clear();
        key(row.pressed, row.flag);
        key(row.pressed, 0);
        EXPECT_EQ(events, (row.fires ? Events{"press", "release"} : Events{}))
            << "stored " << row.stored.value_or(-999) << " pressed " << row.pressed;
    }
    defaults.setText("hotkeyKeyCode", "54");  // not an integer: the default
    events.clear();
    key(61, alt);
    EXPECT_EQ(events, (Events{"press"}));
}

TEST_F(HotkeyMonitorTest, EnsureAliveLeavesAGenuineHoldAloneAndAbortsAnOldOne) {
    monitor.start();
    key(61, alt);
    loop.advance(30);
    monitor.ensureAlive();
    EXPECT_EQ(events, (Events{"press"}));
    EXPECT_EQ(keys.installs, 1);
    EXPECT_EQ(keys.removals, 0);

    loop.shiftWallClock(-3600);  // the system time set back does not prolong the hold
    loop.advance(61);            // held 91 s
    monitor.ensureAlive();
    EXPECT_EQ(events, (Events{"press", "abort"}));  // synchronous, not posted
    EXPECT_EQ(keys.removals, 1);
    EXPECT_EQ(keys.installs, 2);
    EXPECT_EQ(keys.installed(), 1u);
    key(61, 0);  // the matching key-up finds the latch already up
    EXPECT_EQ(events, (Events{"press", "abort"}));
}

TEST_F(HotkeyMonitorTest, WakeWhileHeldAbortsAtOnceAndReinstalls) {
    monitor.start();
    key(61, alt);
    session.wake();
    EXPECT_EQ(events, (Events{"press", "abort"}));
    EXPECT_EQ(keys.installs, 2);
    key(61, 0);
    EXPECT_EQ(events, (Events{"press", "abort"}));
    session.wake();  // not held: only the monitor is recreated
    EXPECT_EQ(events, (Events{"press", "abort"}));
    EXPECT_EQ(keys.installs, 3);
    EXPECT_EQ(keys.installed(), 1u);
}

TEST_F(HotkeyMonitorTest, StartAndEnsureAliveInstallOneMonitorOrReportUnavailable) {
    monitor.start();
    monitor.start();
    EXPECT_EQ(keys.installs, 1);
    EXPECT_EQ(session.observers(), 1u);
    monitor.ensureAlive();  // no hold: reinstalled
    EXPECT_EQ(keys.installs, 2);
    EXPECT_EQ(keys.installed(), 1u);
    EXPECT_TRUE(events.empty());

    keys.trusted = false;
    monitor.ensureAlive();
    EXPECT_EQ(events, (Events{"unavailable"}));
    EXPECT_FALSE(monitor.isInstalled());
    keys.trusted = true;
    keys.refuseInstall = true;
    monitor.start();
    EXPECT_EQ(events, (Events{"unavailable", "unavailable"}));
    keys.refuseInstall = false;
    monitor.ensureAlive();
    EXPECT_TRUE(monitor.isInstalled());
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(HotkeyMonitorTest, NothingArrivesAfterTheMonitorIsGone) {
    auto shortLived = std::make_unique<HotkeyMonitor>(loop, keys, session, defaults);
    int presses = 0;
    shortLived->onPress = [&] { ++presses; };
    shortLived->start();
    keys.send(61, alt);
    shortLived.reset();
    loop.runUntilIdle();
    session.wake();
    EXPECT_EQ(presses, 0);
    EXPECT_EQ(keys.installed(), 0u);
}

// The hotkey reported by a compositor key binding: the relay stands in for the key monitor.
TEST(HotkeyRelayTest, BindingReportsDriveTheLatchInTheOrderTheyWereSent) {
    struct Report {
        bool press;
        std::int64_t sentAt;
    };
    struct Row {
        const char* what;
        std::int64_t hotkeyCode;  // stored setting
        std::vector<Report> reports;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"hold", 61, {{true, 10}, {false, 20}}, {"press", "release"}},
        {"release without a press is ignored", 61, {{false, 10}}, {}},
        {"a late press after its release is dropped", 61, {{false, 20}, {true, 10}}, {}},
        {"another chosen hotkey works the same", 54, {{true, 1}, {false, 2}}, {"press", "release"}},
        {"a key that is no hotkey never fires", 56, {{true, 1}, {false, 2}}, {}},
    };
    for (const Row& row : rows) {
        VirtualRunLoop loop;
        FakeSessionEvents session;
        FakeUserDefaults defaults;
        defaults.setInteger("hotkeyKeyCode", row.hotkeyCode);
        HotkeyRelay relay(defaults);
        relay.setAvailable(true);
        HotkeyMonitor monitor{loop, relay, session, defaults};
        std::vector<std::string> events;
        monitor.onPress = [&] { events.push_back("press"); };
        monitor.onRelease = [&] { events.push_back("release"); };
        monitor.start();
        EXPECT_FALSE(relay.hasReported());
        for (const Report& report : row.reports) {
            report.press ? relay.press(report.sentAt) : relay.release(report.sentAt);
            loop.runUntilIdle();
        }
        EXPECT_EQ(events, row.expected) << row.what;
        EXPECT_TRUE(relay.hasReported()) << row.what;
    }
}

TEST(HotkeyRelayTest, UnavailableRelayMakesTheMonitorReportUnavailable) {
    VirtualRunLoop loop;
    FakeSessionEvents session;
    FakeUserDefaults defaults;
    HotkeyRelay relay(defaults);  // the bus name could not be taken
    HotkeyMonitor monitor{loop, relay, session, defaults};
    bool unavailable = false;
    monitor.onUnavailable = [&] { unavailable = true; };
    monitor.start();
    EXPECT_TRUE(unavailable);
    EXPECT_FALSE(monitor.isInstalled());
}

}  // namespace
}  // namespace sayloft::test
