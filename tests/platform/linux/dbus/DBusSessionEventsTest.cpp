#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <QtCore/QCoreApplication>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVariant>
#include <gtest/gtest.h>

#include "platform/linux/dbus/DBusSessionEvents.h"
#include "qt/DBusMock.h"

namespace sayloft {
namespace {

using test::DBusMock;
using test::waitUntil;

const QString sessionPath = QStringLiteral("/org/freedesktop/login1/session/c1");

// Makes sure the bus has processed the match rules sent before: a call answered by the bus
// itself comes back only after everything sent earlier on the same connection.
void roundTrip(const QDBusConnection& bus) {
    bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
}

// The mock emits a one-boolean signal.
void emitSignal(DBusMock& mock, const QString& interface, const QString& name, bool value) {
    mock.mock(QStringLiteral("EmitSignal"),
              {interface, name, QStringLiteral("b"),
               QVariantList{QVariant::fromValue(QDBusVariant(value))}});
}

// logind changes a property of the session.
void updateSession(DBusMock& logind, const QString& property, bool value) {
    logind.mock(QStringLiteral("UpdateProperties"),
                {QStringLiteral("org.freedesktop.login1.Session"), QVariantMap{{property, value}}},
                sessionPath);
}

std::unique_ptr<DBusMock> startFreedesktopScreenSaver() {
    return DBusMock::plain(DBusMock::Bus::session, QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                           QStringLiteral("org.freedesktop.ScreenSaver"));
}

TEST(DBusSessionEvents, TheReturnReachesEveryObserverOnce) {
    if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
    setenv("XDG_SESSION_ID", "c1", 1);
    const auto logind = DBusMock::fromTemplate(DBusMock::Bus::system, QStringLiteral("logind"),
                                               QStringLiteral("org.freedesktop.login1"),
                                               QStringLiteral("/org/freedesktop/login1"));
    logind->mock(QStringLiteral("AddSession"), {QStringLiteral("c1"), QStringLiteral("seat0"),
                                                1000u, QStringLiteral("user"), true});
    const auto saver = startFreedesktopScreenSaver();
    const auto gnome = DBusMock::fromTemplate(
        DBusMock::Bus::session, QStringLiteral("gnome_screensaver"),
        QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"));
    // The ways the desktop reports a wake: send(false) puts it to sleep or locks it (must not be
    // reported), send(true) wakes or unlocks it (must be, exactly once).
    const std::pair<const char*, std::function<void(bool)>> cases[] = {
        {"PrepareForSleep",
         [&](bool back) {
             emitSignal(*logind, QStringLiteral("org.freedesktop.login1.Manager"),
                        QStringLiteral("PrepareForSleep"), !back);
         }},
        {"LockedHint",
         [&](bool back) { updateSession(*logind, QStringLiteral("LockedHint"), !back); }},
        {"SessionActive",
         [&](bool back) { updateSession(*logind, QStringLiteral("Active"), back); }},
        {"FreedesktopScreenSaver",
         [&](bool back) {
             emitSignal(*saver, QStringLiteral("org.freedesktop.ScreenSaver"),
                        QStringLiteral("ActiveChanged"), !back);
         }},
        {"GnomeScreenSaver",
         [&](bool back) {
             QDBusMessage call = QDBusMessage::createMethodCall(
                 QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
                 QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("SetActive"));
             call << !back;
             gnome->bus().call(call);
         }},
    };
    for (const auto& [name, send] : cases) {
        SCOPED_TRACE(name);
        DBusSessionEvents events(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
        int first = 0;
        int second = 0;
        events.observe([&] { ++first; });
        events.observe([&] { ++second; });  // a second observer subscribes nothing twice
        ASSERT_TRUE(waitUntil([&] { return events.sessionPath() == sessionPath; }));
        roundTrip(QDBusConnection::systemBus());
        roundTrip(QDBusConnection::sessionBus());

        // The mock emits its signal before it answers the call that made it emit, so once send()
        // has returned the signal is queued here: handling the queued events delivers it.
        send(false);
        QCoreApplication::processEvents();
        EXPECT_EQ(first, 0) << "going to sleep or locking was reported";
        send(true);
        ASSERT_TRUE(waitUntil([&] { return first >= 1; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(first, 1);
        EXPECT_EQ(second, 1);
    }
}

TEST(DBusSessionEventsAbsentTest, NoSystemBusNoLogindNoScreenSaverIsNoErrorAndALaterSaverIsHeard) {
    if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
    DBusSessionEvents events(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/sayloft-bus"),
                                      "no-system-bus"),
        QDBusConnection::sessionBus());
    int wakes = 0;
    events.observe([&] { ++wakes; });
    EXPECT_TRUE(events.sessionPath().isEmpty());

    const auto saver = startFreedesktopScreenSaver();  // starts after observe()
    emitSignal(*saver, QStringLiteral("org.freedesktop.ScreenSaver"),
               QStringLiteral("ActiveChanged"), false);
    EXPECT_TRUE(waitUntil([&] { return wakes == 1; }));
}

}  // namespace
}  // namespace sayloft
