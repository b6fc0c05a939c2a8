#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "FakeDesktop.h"
#include "PortalMock.h"
#include "VirtualRunLoop.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/portal/LayoutKeysyms.h"
#include "platform/linux/portal/RemoteDesktopKeyboardEvents.h"

namespace sayloft {
namespace {

using test::waitUntil;
using State = RemoteDesktopKeyboardEvents::State;
using Posted = test::FakeNotifications::Posted;

const Posted pasteYourself{"Sayloft", "paste with Ctrl+V"};
const Posted dialogEveryStart{"Sayloft", "the desktop asks at every start"};

// The desktop around the keyboard: settings, clipboard, notifications, run loop; the layout is
// US English.
struct Desktop {
    test::VirtualRunLoop runLoop;
    test::FakeUserDefaults defaults;
    test::FakePasteboard pasteboard;
    test::FakeNotifications notifications;

    std::unique_ptr<RemoteDesktopKeyboardEvents> keyboard(unsigned portalVersion) {
        auto keysyms = std::make_shared<std::set<std::uint32_t>>(LayoutKeysyms::of("us", ""));
        auto made = std::make_unique<RemoteDesktopKeyboardEvents>(
            QDBusConnection::sessionBus(), runLoop, defaults, pasteboard, notifications,
            RemoteDesktopKeyboardEvents::Options{
                .pasteYourself = {pasteYourself.title, pasteYourself.body},
                .dialogEveryStart = {dialogEveryStart.title, dialogEveryStart.body},
                .producible =
                    [keysyms](std::uint32_t keysym) { return keysyms->count(keysym) > 0; },
            });
        made->start(portalVersion);
        EXPECT_TRUE(waitUntil([&] { return made->state() != State::starting; }));
        return made;
    }

    // What TextInserter posts when typing: each piece a key-down carrying it and a key-up.
    static void type(KeyboardEvents& keyboard, const std::vector<std::u16string>& pieces) {
        for (const auto& piece : pieces) {
            keyboard.post({0, true, 0, piece});
            keyboard.post({0, false, 0, {}});
        }
    }
    // ... and when pasting: Shift+Insert.
    static void pasteChord(KeyboardEvents& keyboard) {
        keyboard.post({114, true, ModifierFlag::shift, {}});
        keyboard.post({114, false, ModifierFlag::shift, {}});
    }
};

class RemoteDesktopTest : public test::PrivateBusTest {};

// The key events the portal received, in order: "k42+" for a key code pressed, "s104-" for a
// keysym released.
std::vector<std::string> keyEvents(test::DBusMock& portal, std::size_t count) {
    std::vector<std::string> events;
    waitUntil([&] {
        events.clear();
        for (const auto& [method, arguments] : portal.allCalls()) {
            // Composed with QString: GCC 12 at -O3 warns of a string overlap that cannot happen.
            const QString kind = method == QStringLiteral("NotifyKeyboardKeycode")  ? "k"
                                 : method == QStringLiteral("NotifyKeyboardKeysym") ? "s"
                                                                                    : "";
            if (!kind.isEmpty()) {
                events.push_back((kind + QString::number(arguments.at(2).toInt()) +
                                  (arguments.at(3).toUInt() == 1 ? "+" : "-"))
                                     .toStdString());
            }
        }
        return events.size() >= count;
    });
    return events;
}

TEST_F(RemoteDesktopTest, TypesAfterOneWarmUpPastesWhatTheLayoutCannotAndRestoresItsSession) {
    const auto portal = test::startPortal();
    Desktop desktop;
    const auto keyboard = desktop.keyboard(2);
    ASSERT_EQ(keyboard->state(), State::running) << keyboard->failure();
    const auto selected = portal->calls(QStringLiteral("SelectDevices")).at(0);
    EXPECT_EQ(test::mapOf(selected.at(1)).value(QStringLiteral("types")).toUInt(), 1u);

    Desktop::type(*keyboard, {u"Hi!", u"中"});
    Desktop::pasteChord(*keyboard);
    const std::vector<std::string> expected{
        "k42+", "k42-",                                     // the warm-up, once
        "s72+", "s72-",  "s105+", "s105-", "s33+", "s33-",  // H, i, ! (a shift level)
        "k42+", "k110+", "k110-", "k42-",                   // 中 by paste
        "k42+", "k110+", "k110-", "k42-",                   // the chord itself
    };
    EXPECT_EQ(keyEvents(*portal, expected.size()), expected);
    EXPECT_EQ(desktop.pasteboard.history, std::vector<std::string>{"中"});
    desktop.runLoop.runUntilIdle();
    EXPECT_TRUE(desktop.notifications.posted.empty());

    // The granted session is kept: the next start restores it with the token of the last one.
    ASSERT_EQ(desktop.keyboard(2)->state(), State::running);
    const auto options = test::mapOf(portal->calls(QStringLiteral("SelectDevices")).back().at(1));
    EXPECT_EQ(options.value(QStringLiteral("persist_mode")).toUInt(), 2u);
    EXPECT_EQ(options.value(QStringLiteral("restore_token")).toString(), "token-1-1");
    EXPECT_EQ(desktop.defaults.text(RemoteDesktopKeyboardEvents::restoreTokenKey), "token-1-2");
}

TEST_F(RemoteDesktopTest, APortalThatCannotRestoreIsExplainedOnceAndAsksNothingToKeep) {
    const auto portal = test::startPortal(QStringLiteral(R"({"remotedesktop_version": 1})"));
    Desktop desktop;
    for (int start = 0; start < 2; ++start) {
        ASSERT_EQ(desktop.keyboard(1)->state(), State::running);
        const auto options =
            test::mapOf(portal->calls(QStringLiteral("SelectDevices")).back().at(1));
        EXPECT_FALSE(options.contains(QStringLiteral("persist_mode")));
    }
    EXPECT_EQ(desktop.notifications.posted, std::vector<Posted>{dialogEveryStart});
    EXPECT_FALSE(desktop.defaults.text(RemoteDesktopKeyboardEvents::restoreTokenKey));
}

TEST_F(RemoteDesktopTest, WithoutASessionTheTextGoesToTheClipboardAndANotificationSaysSo) {
    struct Row {
        const char* name;
        const char* portal;  // parameters, or nullptr: no portal on the bus
        bool closeAfterStart = false;
    };
    const Row rows[] = {
        {"no portal", nullptr},
        {"no interface", R"({"remotedesktop_version": 0})"},
        {"refused", R"({"start_response": 2})"},
        {"session closed", "{}", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto portal = row.portal ? test::startPortal(QString::fromUtf8(row.portal)) : nullptr;
        Desktop desktop;
        const auto keyboard = desktop.keyboard(2);
        if (row.closeAfterStart) {
            portal->mock(QStringLiteral("CloseSessions"), {});
            ASSERT_TRUE(waitUntil([&] { return keyboard->state() == State::unavailable; }));
        }
        EXPECT_EQ(keyboard->state(), State::unavailable);
        EXPECT_FALSE(keyboard->failure().empty());

        // Typing: the pieces of one insertion together on the clipboard, one notification.
        Desktop::type(*keyboard, {u"Hello ", u"world"});
        desktop.runLoop.runUntilIdle();
        EXPECT_EQ(desktop.pasteboard.text, "Hello world");
        // Pasting: the text is on the clipboard already.
        desktop.pasteboard.setText("pasted");
        Desktop::pasteChord(*keyboard);
        desktop.runLoop.runUntilIdle();
        EXPECT_EQ(desktop.pasteboard.text, "pasted");
        EXPECT_EQ(desktop.notifications.posted,
                  (std::vector<Posted>{pasteYourself, pasteYourself}));
        if (portal) {
            EXPECT_TRUE(portal->calls(QStringLiteral("NotifyKeyboardKeysym")).empty());
        }
    }
}

}  // namespace
}  // namespace sayloft
