#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/HotkeyMonitor.h"
#include "app/HotkeyRelay.h"
#include "fakes/FakeDesktop.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

constexpr std::uint64_t alt = ModifierFlag::option;
using Events = std::vector<std::string>;

// A monitor whose reports land in `events`, on the key monitor given (the fake one by default).
struct Monitored {
    explicit Monitored(KeyEventMonitor* source = nullptr)
        : monitor(loop, source ? *source : keys, session, defaults) {
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
    HotkeyMonitor monitor;
    Events events;
};

class HotkeyMonitorTest : public ::testing::Test, protected Monitored {};

TEST_F(HotkeyMonitorTest, TwinKeyRule) {
    monitor.start();
    // Left Alt pressed and released during a Right Alt hold: no event for 61, nothing happens.
    key(61, alt);
    key(58, alt);
    key(58, alt);
    // Right Alt released while Left Alt is still held: the flag is still set, no release.
    key(61, alt);
    // Another modifier changing while the hotkey is held reports nothing either.
    key(61, alt | ModifierFlag::control);
    EXPECT_EQ(events, (Events{"press"}));
    // A later event for 61 without the flag ends the hold.
    key(61, 0);
    EXPECT_EQ(events, (Events{"press", "release"}));
}

TEST_F(HotkeyMonitorTest, StoredKeyCodesAreReadAtEveryEvent) {
    struct Row {
        std::optional<FakeUserDefaults::Value> stored;
        std::uint16_t pressed;
        std::uint64_t flag;
        bool fires;
    };
    const Row rows[] = {
        {std::int64_t{54}, 54, ModifierFlag::command, true},   // Right Super
        {std::int64_t{63}, 63, ModifierFlag::function, true},  // Fn, where a keyboard reports it
        {std::int64_t{63}, 63, alt, false},                    // Fn is tested against its own flag
        {std::int64_t{56}, 56, ModifierFlag::shift, false},    // Shift is not in the table
        {std::int64_t{70000}, 61, alt, true},                  // out of range: the default
        {std::string("54"), 61, alt, true},                    // not an integer: the default
        {std::nullopt, 61, alt, true},                         // Right Alt by default
        {std::nullopt, 58, alt, false},                        // not Left Alt
    };
    monitor.start();
    for (const auto& row : rows) {
        defaults.values.erase("hotkeyKeyCode");
        if (row.stored) {
            defaults.values["hotkeyKeyCode"] = *row.stored;
        }
        events.clear();
        key(row.pressed, row.flag);
        key(row.pressed, 0);
        EXPECT_EQ(events, (row.fires ? Events{"press", "release"} : Events{}))
            << "pressed " << row.pressed << " with flag " << row.flag;
    }
}

// A hold older than the limit (by the monotonic clock: the wall clock set back does not prolong
// it), or a wake while held, aborts at once and reinstalls the monitor; the matching key-up finds
// the latch already up.
TEST_F(HotkeyMonitorTest, AStuckHoldOrAWakeAbortsAndReinstalls) {
    monitor.start();
    key(61, alt);
    loop.advance(30);
    monitor.ensureAlive();  // a genuine hold is left alone
    EXPECT_EQ(keys.installs, 1);
    loop.shiftWallClock(-3600);
    loop.advance(61);  // held 91 s
    monitor.ensureAlive();
    EXPECT_EQ(events, (Events{"press", "abort"}));  // synchronous, not posted
    key(61, 0);
    key(61, alt);
    session.wake();
    key(61, 0);
    session.wake();  // not held: only the monitor is recreated
    EXPECT_EQ(events, (Events{"press", "abort", "press", "abort"}));
    EXPECT_EQ(keys.installs, 4);
    EXPECT_EQ(keys.installed(), 1u);
}

// Whether the monitor could be installed is reported at each try (the application's own test
// follows the message this leads to).
TEST_F(HotkeyMonitorTest, StartAndEnsureAliveInstallOneMonitorOrReportUnavailable) {
    monitor.start();
    monitor.start();
    EXPECT_EQ(keys.installs, 1);
    EXPECT_EQ(session.handlers.size(), 1u);
    monitor.ensureAlive();  // no hold: reinstalled
    EXPECT_EQ(keys.installed(), 1u);
    keys.trusted = false;
    monitor.ensureAlive();
    EXPECT_FALSE(monitor.isInstalled());
    EXPECT_EQ(events, (Events{"unavailable"}));
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
    struct Row {
        const char* what;
        bool available;  // false: the bus name could not be taken
        std::int64_t hotkeyCode;
        std::vector<std::pair<bool, std::int64_t>> reports;  // press or release, sent at
        Events expected;
    };
    const Row rows[] = {
        {"hold", true, 61, {{true, 10}, {false, 20}}, {"press", "release"}},
        {"release without a press is ignored", true, 61, {{false, 10}}, {}},
        {"a late press after its release is dropped", true, 61, {{false, 20}, {true, 10}}, {}},
        {"another chosen hotkey", true, 54, {{true, 1}, {false, 2}}, {"press", "release"}},
        {"a key that is no hotkey never fires", true, 56, {{true, 1}, {false, 2}}, {}},
        {"unavailable", false, 61, {}, {"unavailable"}},
    };
    for (const Row& row : rows) {
        FakeUserDefaults defaults;
        defaults.setInteger("hotkeyKeyCode", row.hotkeyCode);
        HotkeyRelay relay(defaults);
        relay.setAvailable(row.available);
        Monitored m(&relay);
        m.defaults = defaults;
        m.monitor.start();
        EXPECT_EQ(m.monitor.isInstalled(), row.available) << row.what;
        for (const auto& [press, sentAt] : row.reports) {
            press ? relay.press(sentAt) : relay.release(sentAt);
            m.loop.runUntilIdle();
        }
        EXPECT_EQ(m.events, row.expected) << row.what;
        EXPECT_EQ(relay.hasReported(), !row.reports.empty()) << row.what;
    }
}

}  // namespace
}  // namespace sayloft::test
