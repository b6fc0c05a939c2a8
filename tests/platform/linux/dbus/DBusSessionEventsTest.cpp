#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

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

std::unique_ptr<DBusMock> startLogind() {
    auto logind = DBusMock::fromTemplate(DBusMock::Bus::system, QStringLiteral("logind"),
                                         QStringLiteral("org.freedesktop.login1"),
                                         QStringLiteral("/org/freedesktop/login1"));
    logind->mock(QStringLiteral("AddSession"), {QStringLiteral("c1"), QStringLiteral("seat0"),
                                                1000u, QStringLiteral("user"), true});
    return logind;
}

std::unique_ptr<DBusMock> startFreedesktopScreenSaver() {
    return DBusMock::plain(DBusMock::Bus::session, QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                           QStringLiteral("org.freedesktop.ScreenSaver"));
}

// One way the desktop reports a wake: send(false) puts it to sleep or locks it (must not be
// reported), send(true) wakes or unlocks it (must be, exactly once). logind runs in every case;
// `start` starts the screen saver a case needs (or nothing), and send gets it as `other`.
struct WakeCase {
    const char* name;
    std::function<std::unique_ptr<DBusMock>()> start;
    std::function<void(DBusMock& logind, DBusMock* other, bool back)> send;
};

// Asleep or locked, then back: only the return is reported, once to each observer.
void wakeReachesEveryObserverOnce(const WakeCase& wake) {
    const auto logind = startLogind();
    const auto other = wake.start();
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
    wake.send(*logind, other.get(), false);
    QCoreApplication::processEvents();
    EXPECT_EQ(first, 0) << "going to sleep or locking was reported";
    wake.send(*logind, other.get(), true);
    ASSERT_TRUE(waitUntil([&] { return first >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST(DBusSessionEvents, TheReturnReachesEveryObserverOnce) {
    if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
    setenv("XDG_SESSION_ID", "c1", 1);
    const auto none = [] { return std::unique_ptr<DBusMock>(); };
    const WakeCase cases[] = {
        {"PrepareForSleep", none,
         [](DBusMock& logind, DBusMock*, bool back) {
             emitSignal(logind, QStringLiteral("org.freedesktop.login1.Manager"),
                        QStringLiteral("PrepareForSleep"), !back);
         }},
        {"LockedHint", none,
         [](DBusMock& logind, DBusMock*, bool back) {
             updateSession(logind, QStringLiteral("LockedHint"), !back);
         }},
        {"SessionActive", none,
         [](DBusMock& logind, DBusMock*, bool back) {
             updateSession(logind, QStringLiteral("Active"), back);
         }},
        {"FreedesktopScreenSaver", startFreedesktopScreenSaver,
         [](DBusMock&, DBusMock* saver, bool back) {
             emitSignal(*saver, QStringLiteral("org.freedesktop.ScreenSaver"),
                        QStringLiteral("ActiveChanged"), !back);
         }},
        {"GnomeScreenSaver",
         [] {
             return DBusMock::fromTemplate(
                 DBusMock::Bus::session, QStringLiteral("gnome_screensaver"),
                 QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"));
         },
         [](DBusMock&, DBusMock* saver, bool back) {
             QDBusMessage call = QDBusMessage::createMethodCall(
                 QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
                 QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("SetActive"));
             call << !back;
             saver->bus().call(call);
         }},
    };
    for (const WakeCase& wake : cases) {
        SCOPED_TRACE(wake.name);
        wakeReachesEveryObserverOnce(wake);
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
