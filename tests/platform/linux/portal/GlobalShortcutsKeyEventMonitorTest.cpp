#include <optional>
#include <string>
#include <vector>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "PortalMock.h"
#include "platform/linux/portal/GlobalShortcutsKeyEventMonitor.h"
#include "platform/linux/portal/PortalShortcut.h"

namespace sayloft {
namespace {

using test::waitUntil;
using State = GlobalShortcutsKeyEventMonitor::State;

// A monitor proposing `trigger` for Right Alt, recording the presses and releases it delivers.
struct Monitor {
    Monitor()
        : monitor(QDBusConnection::sessionBus(),
                  {.description = "Hold to talk",
                   .preferredTrigger = [this] { return trigger; },
                   .eventFor =
                       [](bool down) {
                           return ModifierEvent{61, down ? 0x80000u : 0u};
                       }}) {}

    bool startAndWait() {
        monitor.start();
        return waitUntil([this] { return monitor.state() != State::binding; });
    }
    void listen() {
        monitor.install([this](const ModifierEvent& event) { downs.push_back(event.flags != 0); });
    }

    std::string trigger = "Alt_R";
    GlobalShortcutsKeyEventMonitor monitor;
    std::vector<bool> downs;
};

class GlobalShortcutsTest : public test::PrivateBusTest {};

// The shortcut proposed in the last BindShortcuts call: its id and preferred trigger.
std::pair<QString, QString> lastBinding(test::DBusMock& portal) {
    const auto calls = portal.calls(QStringLiteral("BindShortcuts"));
    if (calls.empty()) {
        return {};
    }
    PortalShortcut::registerWithDBus();
    const auto shortcuts = PortalShortcut::listFrom(calls.back().at(1));
    if (shortcuts.isEmpty()) {
        return {};
    }
    return {shortcuts.front().id,
            shortcuts.front().properties.value(QStringLiteral("preferred_trigger")).toString()};
}

TEST_F(GlobalShortcutsTest, ActivatedAndDeactivatedAreOneHoldWhateverTheRepeats) {
    const auto portal = test::startPortal();
    Monitor hotkey;
    ASSERT_TRUE(hotkey.startAndWait());
    ASSERT_EQ(hotkey.monitor.state(), State::bound) << hotkey.monitor.failure();
    EXPECT_TRUE(hotkey.monitor.isTrusted());
    EXPECT_EQ(lastBinding(*portal),
              std::make_pair(QStringLiteral("hold-to-talk"), QStringLiteral("Alt_R")));
    EXPECT_EQ(hotkey.monitor.desktopTrigger(), std::nullopt);  // the desktop took our trigger
    hotkey.listen();

    // A Deactivated with nothing held, the press, GNOME's auto-repeat, the release, a stray one.
    for (const bool down : {false, true, true, true, false, false}) {
        portal->mock(QStringLiteral("Press"), {down});
    }
    portal->mock(QStringLiteral("Press"), {true});
    ASSERT_TRUE(waitUntil([&] { return hotkey.downs.size() >= 3; }));
    EXPECT_EQ(hotkey.downs, (std::vector<bool>{true, false, true}));

    // The desktop ends the session while the key is held: the hold ends with it.
    portal->mock(QStringLiteral("CloseSessions"), {});
    ASSERT_TRUE(waitUntil([&] { return hotkey.monitor.state() == State::failed; }));
    EXPECT_EQ(hotkey.downs, (std::vector<bool>{true, false, true, false}));
    EXPECT_FALSE(hotkey.monitor.isTrusted());
}

TEST_F(GlobalShortcutsTest, ATriggerTheDesktopChoseIsShownAndAnotherHotkeyIsBoundAgain) {
    const auto portal = test::startPortal(QStringLiteral(R"({"trigger": "Ctrl+Alt+D"})"));
    Monitor hotkey;
    ASSERT_TRUE(hotkey.startAndWait());
    EXPECT_EQ(hotkey.monitor.desktopTrigger(), "Ctrl+Alt+D");
    // The user changes it in the desktop's settings.
    int changes = 0;
    hotkey.monitor.onChange = [&changes] { ++changes; };
    portal->mock(QStringLiteral("ChangeTrigger"), {QStringLiteral("Meta+Space")});
    ASSERT_TRUE(waitUntil([&] { return changes > 0; }));
    EXPECT_EQ(hotkey.monitor.desktopTrigger(), "Meta+Space");

    hotkey.trigger = "Control_R";
    hotkey.monitor.rebind();
    ASSERT_TRUE(waitUntil([&] {
        return portal->calls(QStringLiteral("BindShortcuts")).size() == 2 &&
               hotkey.monitor.state() == State::bound;
    }));
    EXPECT_EQ(lastBinding(*portal).second, QStringLiteral("Control_R"));
    hotkey.listen();
    portal->mock(QStringLiteral("Press"), {true});
    ASSERT_TRUE(waitUntil([&] { return !hotkey.downs.empty(); }));  // from the new session
}

TEST_F(GlobalShortcutsTest, WithoutAShortcutTheRouteSaysWhyAndInstallsNothing) {
    struct Row {
        const char* name;
        const char* portal;  // parameters, or nullptr: no portal on the bus
        const char* why;     // in failure()
    };
    const Row rows[] = {
        {"no portal", nullptr, "no GlobalShortcuts portal"},
        {"no interface", R"({"globalshortcuts_version": 0})", "no GlobalShortcuts portal"},
        {"dialog cancelled", R"({"bind_response": 1})", "not accepted"},
        {"refused", R"({"bind_response": 2})", "refused binding"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto portal = row.portal ? test::startPortal(QString::fromUtf8(row.portal)) : nullptr;
        Monitor hotkey;
        ASSERT_TRUE(hotkey.startAndWait());
        EXPECT_EQ(hotkey.monitor.state(), State::failed);
        EXPECT_NE(hotkey.monitor.failure().find(row.why), std::string::npos)
            << hotkey.monitor.failure();
        EXPECT_EQ(hotkey.monitor.install([](const ModifierEvent&) {}), std::nullopt);
    }
}

TEST(GlobalShortcutsTrigger, HotkeysInTheShortcutsNotationAndTheDesktopsWordsForThem) {
    EXPECT_EQ(GlobalShortcutsKeyEventMonitor::triggerFor(61), "Alt_R");
    EXPECT_EQ(GlobalShortcutsKeyEventMonitor::triggerFor(59), "Control_L");
    EXPECT_EQ(GlobalShortcutsKeyEventMonitor::triggerFor(9), "");
    for (const char* same : {"Alt_R", "alt r", "ALT-R", "Alt+R"}) {
        EXPECT_TRUE(GlobalShortcutsKeyEventMonitor::describes(same, "Alt_R")) << same;
    }
    for (const char* other : {"Alt_L", "Ctrl+Alt+D", ""}) {
        EXPECT_FALSE(GlobalShortcutsKeyEventMonitor::describes(other, "Alt_R")) << other;
    }
}

}  // namespace
}  // namespace sayloft
