#include <vector>

#include <gtest/gtest.h>

#include "TestDisplay.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"

namespace sayloft {

inline bool operator==(const ModifierEvent& a, const ModifierEvent& b) {
    return a.keyCode == b.keyCode && a.flags == b.flags;
}

void PrintTo(const ModifierEvent& event, std::ostream* out) {
    *out << "{" << event.keyCode << ", 0x" << std::hex << event.flags << std::dec << "}";
}

namespace {

using test::TestDisplay;
using test::waitUntil;

constexpr unsigned rightAlt = 108;
constexpr unsigned leftAlt = 64;
constexpr unsigned keyA = 38;
constexpr unsigned leftShift = 50;

class XInputKeyEventMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { keys.releaseAll(); }
    void TearDown() override { keys.releaseAll(); }

    KeyEventMonitor::MonitorId installRecorder() {
        const auto id = monitor.install([this](const ModifierEvent& e) { events.push_back(e); });
        EXPECT_TRUE(id.has_value());
        return id.value_or(0);
    }

    bool waitForEvents(std::size_t count) {
        return waitUntil([&] { return events.size() >= count; });
    }

    TestDisplay keys;
    XInputKeyEventMonitor monitor;
    std::vector<ModifierEvent> events;
};

TEST_F(XInputKeyEventMonitorTest, TrustedOnADisplayWithXInput2AndXTest) {
    EXPECT_TRUE(monitor.isTrusted());
}

TEST_F(XInputKeyEventMonitorTest, EachTableKeyReportsItsCodeAndFlagWhileDown) {
    struct Row {
        unsigned keycode;
        std::uint16_t virtualKey;
        std::uint64_t flag;
    };
    const Row rows[] = {
        {108, 61, ModifierFlag::option},  {64, 58, ModifierFlag::option},
        {134, 54, ModifierFlag::command}, {133, 55, ModifierFlag::command},
        {105, 62, ModifierFlag::control}, {37, 59, ModifierFlag::control},
    };
    installRecorder();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keycode);
        events.clear();
        keys.press(row.keycode);
        keys.release(row.keycode);
        ASSERT_TRUE(waitForEvents(2));
        EXPECT_EQ(events[0], (ModifierEvent{row.virtualKey, row.flag}));
        EXPECT_EQ(events[1], (ModifierEvent{row.virtualKey, 0}));
        EXPECT_EQ(XInputKeyEventMonitor::virtualKeyFor(row.keycode), row.virtualKey);
    }
}

TEST_F(XInputKeyEventMonitorTest, LeftAltHeldKeepsOptionWhenRightAltGoesUp) {
    installRecorder();
    keys.press(leftAlt);
    keys.press(rightAlt);
    keys.release(rightAlt);
    keys.release(leftAlt);
    ASSERT_TRUE(waitForEvents(4));
    const std::vector<ModifierEvent> expected{{58, ModifierFlag::option},
                                              {61, ModifierFlag::option},
                                              {61, ModifierFlag::option},
                                              {58, 0}};
    EXPECT_EQ(events, expected);
}

TEST_F(XInputKeyEventMonitorTest, FlagsCombineAcrossModifierFamilies) {
    installRecorder();
    keys.press(37);   // Left Ctrl
    keys.press(134);  // Right Super
    keys.release(37);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[1], (ModifierEvent{54, ModifierFlag::control | ModifierFlag::command}));
    EXPECT_EQ(events[2], (ModifierEvent{59, ModifierFlag::command}));
}

TEST_F(XInputKeyEventMonitorTest, KeysOutsideTheTableAreNotReported) {
    installRecorder();
    keys.press(keyA);
    keys.release(keyA);
    keys.press(leftShift);
    keys.release(leftShift);
    keys.press(rightAlt);  // a marker: everything before it has been delivered
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events, (std::vector<ModifierEvent>{{61, ModifierFlag::option}}));
    EXPECT_EQ(XInputKeyEventMonitor::virtualKeyFor(keyA), std::nullopt);
    EXPECT_EQ(XInputKeyEventMonitor::virtualKeyFor(leftShift), std::nullopt);
}

TEST_F(XInputKeyEventMonitorTest, AKeyDownBeforeInstallCountsInLaterFlags) {
    keys.press(leftAlt);
    installRecorder();
    keys.press(rightAlt);
    keys.release(rightAlt);
    keys.release(leftAlt);
    ASSERT_TRUE(waitForEvents(3));
    const std::vector<ModifierEvent> expected{
        {61, ModifierFlag::option}, {61, ModifierFlag::option}, {58, 0}};
    EXPECT_EQ(events, expected);
}

TEST_F(XInputKeyEventMonitorTest, RemovedMonitorIsNotCalledAndOthersStillAre) {
    const auto first = installRecorder();
    std::vector<ModifierEvent> second;
    ASSERT_TRUE(monitor.install([&](const ModifierEvent& e) { second.push_back(e); }));
    monitor.remove(first);
    monitor.remove(first);  // unknown ids are ignored
    keys.press(rightAlt);
    ASSERT_TRUE(waitUntil([&] { return !second.empty(); }));
    EXPECT_TRUE(events.empty());
}

TEST_F(XInputKeyEventMonitorTest, ReinstallAfterRemovingAllReadsTheKeyStateAfresh) {
    const auto id = installRecorder();
    monitor.remove(id);
    keys.press(leftAlt);  // while nothing is installed
    installRecorder();
    keys.release(leftAlt);
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events, (std::vector<ModifierEvent>{{58, 0}}));
}

TEST_F(XInputKeyEventMonitorTest, AnnouncedOwnEventsAreNeitherReportedNorCounted) {
    installRecorder();
    keys.press(rightAlt);
    ASSERT_TRUE(waitForEvents(1));
    // What the keyboard does around a paste chord while the hotkey is held.
    monitor.expectOwnEvent(rightAlt, false);
    monitor.expectOwnEvent(37, true);
    monitor.expectOwnEvent(37, false);
    monitor.expectOwnEvent(rightAlt, true);
    keys.release(rightAlt);
    keys.press(37);
    keys.release(37);
    keys.press(rightAlt);
    keys.release(rightAlt);  // the user's own release
    ASSERT_TRUE(waitForEvents(2));
    const std::vector<ModifierEvent> expected{{61, ModifierFlag::option}, {61, 0}};
    EXPECT_EQ(events, expected);
}

TEST(XInputKeyEventMonitorNoDisplayTest, UntrustedAndInstallsNothing) {
    XInputKeyEventMonitor monitor(":999");
    EXPECT_FALSE(monitor.isTrusted());
    EXPECT_EQ(monitor.install([](const ModifierEvent&) {}), std::nullopt);
}

}  // namespace
}  // namespace sayloft
