// The D-Bus services of the desktop against python3-dbusmock servers (Debian's /usr/bin/python3)
// on the private buses of scripts/desktop-session, empty until a test starts the mocks it needs:
// the hotkey service with the real sayloft-cli, notifications, media players, and the session's
// sleep and lock.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QtCore/QCoreApplication>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVariant>
#include <gtest/gtest.h>

#include "app/MediaController.h"
#include "app/WorkerQueue.h"
#include "core/hotkey/HotkeyCookie.h"
#include "platform/linux/dbus/DBusHotkeyService.h"
#include "platform/linux/dbus/DBusNotifications.h"
#include "platform/linux/dbus/DBusSessionEvents.h"
#include "platform/linux/dbus/MprisMediaPlayers.h"
#include "qt/DBusMock.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using test::DBusMock;
using test::waitUntil;

using DBusHotkeyServiceTest = test::PrivateBusTest;
using DBusNotificationsTest = test::PrivateBusTest;
using DBusSessionEventsTest = test::PrivateBusTest;
using MprisMediaPlayersTest = test::PrivateBusTest;

// Runs `sayloft-cli hotkey ACTION` with the given runtime folder, the event loop running meanwhile
// (the service answers from it), and checks its exit status and that its error output holds
// `error`.
void expectCli(const QString& runtimeDir, const QString& action, int status,
               const QString& error = {}) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(SAYLOFT_CLI_PATH), {QStringLiteral("hotkey"), action});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return cli.state() == QProcess::NotRunning; }));
    EXPECT_EQ(cli.exitCode(), status) << action.toStdString();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_TRUE(err.contains(error)) << err.toStdString();
}

// Another process's connection to the session bus, as a second Sayloft would have.
QDBusConnection otherConnection(const char* name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QString::fromLatin1(name));
}

TEST_F(DBusHotkeyServiceTest, OnlyTheCliOfThisLoginWithTheCookieReachesSayloft) {
    QTemporaryDir runtime;
    QTemporaryDir otherRuntime;
    const auto cookie = HotkeyCookie::create(HotkeyCookie::location(runtime.path().toStdString()));
    ASSERT_TRUE(cookie.has_value());
    ASSERT_TRUE(HotkeyCookie::create(HotkeyCookie::location(otherRuntime.path().toStdString())));

    std::vector<std::pair<bool, std::int64_t>> reports;
    DBusHotkeyService service(QDBusConnection::sessionBus());
    expectCli(runtime.path(), QStringLiteral("press"), 1, QStringLiteral("Sayloft is not running"));

    ASSERT_EQ(service.start(), DBusHotkeyService::Start::owner);
    {
        DBusHotkeyService second(otherConnection("second"));
        EXPECT_EQ(second.start(), DBusHotkeyService::Start::alreadyRunning);  // one per login
    }
    // The name is there on every route; the hotkey only on the key binding's.
    expectCli(runtime.path(), QStringLiteral("press"), 1, QStringLiteral("NotSupported"));

    service.acceptHotkey(*cookie,
                         [&](bool down, std::int64_t at) { reports.emplace_back(down, at); });
    expectCli(runtime.path(), QStringLiteral("press"), 0);
    expectCli(runtime.path(), QStringLiteral("release"), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].first);
    EXPECT_FALSE(reports[1].first);
    EXPECT_LT(reports[0].second, reports[1].second);  // each process's own start time

    expectCli(otherRuntime.path(), QStringLiteral("press"), 1, QStringLiteral("AccessDenied"));
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(DBusHotkeyServiceTest, ASecondStartIsAnsweredByTheFirstOrToldItDidNotAnswer) {
    using Activation = DBusHotkeyService::Activation;
    const QDBusConnection second = otherConnection("second-start");
    EXPECT_EQ(DBusHotkeyService::activateRunning(second), Activation::notRunning);

    int activations = 0;
    {
        DBusHotkeyService first(QDBusConnection::sessionBus());
        ASSERT_EQ(first.start(), DBusHotkeyService::Start::owner);
        EXPECT_EQ(DBusHotkeyService::activateRunning(second), Activation::answered);  // no handler
        first.setOnActivate([&] { ++activations; });
        EXPECT_EQ(DBusHotkeyService::activateRunning(second), Activation::answered);
        EXPECT_EQ(activations, 1);
    }
    EXPECT_EQ(DBusHotkeyService::activateRunning(second), Activation::notRunning);  // it quit

    // A holder that hangs: the caller gives up after its time-out, here a short one.
    const auto hung =
        DBusMock::plain(DBusMock::Bus::session, QString::fromLatin1(DBusHotkeyService::serviceName),
                        QString::fromLatin1(DBusHotkeyService::objectPath),
                        QString::fromLatin1(DBusHotkeyService::interfaceName));
    hung->freeze();
    EXPECT_EQ(DBusHotkeyService::activateRunning(second, 300), Activation::noAnswer);
}

TEST(DBusHotkeyService, AcceptsOnlyTheSameUserWithTheCookie) {
    EXPECT_TRUE(DBusHotkeyService::accepts(1000, 1000, "c00k1e", "c00k1e"));
    EXPECT_FALSE(DBusHotkeyService::accepts(1001, 1000, "c00k1e", "c00k1e"));  // another user
    EXPECT_FALSE(DBusHotkeyService::accepts(0, 1000, "c00k1e", "c00k1e"));     // even root
    EXPECT_FALSE(DBusHotkeyService::accepts(1000, 1000, "c00k1f", "c00k1e"));
    EXPECT_FALSE(DBusHotkeyService::accepts(1000, 1000, "", ""));
}

std::unique_ptr<DBusMock> startNotificationDaemon(const QString& capabilities = {}) {
    return DBusMock::fromTemplate(
        DBusMock::Bus::session, QStringLiteral("notification_daemon"),
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        capabilities.isEmpty() ? QString()
                               : QStringLiteral("{\"capabilities\": \"%1\"}").arg(capabilities));
}

TEST_F(DBusNotificationsTest, EachTextArrivesExactlyAsWritten) {
    struct Text {
        const char* title;
        const char* body;
        const char* shownByMarkupServer;  // the body a server reading markup must receive
    };
    const Text texts[] = {
        {"转写失败", "测试中文🙂,请稍后再试", "测试中文🙂,请稍后再试"},
        {"a < b", "<b>not bold</b> & more", "&lt;b&gt;not bold&lt;/b&gt; &amp; more"},
    };
    for (const bool markup : {true, false}) {
        SCOPED_TRACE(markup ? "server reads markup" : "server shows plain text");
        const auto daemon = startNotificationDaemon(markup ? QStringLiteral("body body-markup")
                                                           : QStringLiteral("body"));
        DBusNotifications notifications(QDBusConnection::sessionBus(), "Sayloft");
        notifications.requestAuthorization();
        for (const Text& text : texts) {
            notifications.post(text.title, text.body);
        }
        const std::size_t count = std::size(texts);
        ASSERT_TRUE(
            waitUntil([&] { return daemon->calls(QStringLiteral("Notify")).size() == count; }));
        const auto calls = daemon->calls(QStringLiteral("Notify"));
        for (std::size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(texts[i].title);
            ASSERT_EQ(calls[i].size(), 8);
            EXPECT_EQ(calls[i][0].toString(), QStringLiteral("Sayloft"));
            EXPECT_EQ(calls[i][1].toUInt(), 0u);  // replaces nothing: every post is a new one
            EXPECT_EQ(calls[i][3].toString().toStdString(), texts[i].title);  // in the order posted
            EXPECT_EQ(calls[i][4].toString().toStdString(),
                      markup ? texts[i].shownByMarkupServer : texts[i].body);
            EXPECT_EQ(calls[i][7].toInt(), -1);  // the server's own expiry
        }
    }
}

TEST_F(DBusNotificationsTest, NoServerIsSilentAndAServerStartedLaterIsUsed) {
    DBusNotifications notifications(QDBusConnection::sessionBus(), "Sayloft");
    notifications.requestAuthorization();
    notifications.post("lost", "nobody shows this");
    // The failed calls come back as errors while the mock starts (its start pumps the event
    // loop); none may throw or crash, and the notifier stays usable.
    const auto daemon = startNotificationDaemon();
    notifications.post("found", "a server now");
    EXPECT_TRUE(waitUntil([&] {
        const auto calls = daemon->calls(QStringLiteral("Notify"));
        return std::any_of(calls.begin(), calls.end(), [](const QVariantList& call) {
            return call.value(3).toString() == QStringLiteral("found");
        });
    }));
}

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

TEST_F(DBusSessionEventsTest, TheReturnReachesEveryObserverOnce) {
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

TEST_F(DBusSessionEventsTest, NoSystemBusNoLogindNoScreenSaverIsNoErrorAndALaterSaverIsHeard) {
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

const QString playerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// A player that answers Pause and Play by changing its PlaybackStatus, as real ones do.
std::unique_ptr<DBusMock> startPlayer(const std::string& id, const char* status) {
    auto player = DBusMock::plain(DBusMock::Bus::session, QString::fromStdString(id), playerPath,
                                  playerInterface);
    player->mock(QStringLiteral("AddProperty"),
                 {playerInterface, QStringLiteral("PlaybackStatus"),
                  QVariant::fromValue(QDBusVariant(QString::fromLatin1(status)))});
    for (const auto& [method, next] :
         {std::pair{"Pause", "Paused"}, std::pair{"Play", "Playing"}}) {
        player->mock(QStringLiteral("AddMethod"),
                     {playerInterface, QString::fromLatin1(method), QString(), QString(),
                      QStringLiteral("self.UpdateProperties('%1', {'PlaybackStatus': '%2'})")
                          .arg(playerInterface, QString::fromLatin1(next))});
    }
    return player;
}

TEST_F(MprisMediaPlayersTest, OnlyThePlayingPlayerIsPausedAndLaterResumed) {
    MprisMediaPlayers players(QDBusConnection::sessionBus());
    const std::string music = "org.mpris.MediaPlayer2.music";
    std::map<std::string, std::unique_ptr<DBusMock>> mocks;
    // The last is no player, though it has the same object: never touched.
    for (const auto& [id, status] :
         {std::pair{music.c_str(), "Playing"}, std::pair{"org.mpris.MediaPlayer2.video", "Paused"},
          std::pair{"org.mpris.MediaPlayer2.radio", "Stopped"},
          std::pair{"org.example.NotMpris", "Playing"}}) {
        mocks[id] = startPlayer(id, status);
    }

    EXPECT_EQ(players.playing(2s), std::vector{music});

    // The application's own sequence: pause around a recording, from its media worker thread.
    WorkerQueue queue;
    MediaController media(players, queue);
    media.pauseIfPlaying();
    const auto called = [&](const std::string& id, const char* method) {
        return mocks.at(id)->calls(QString::fromLatin1(method)).size();
    };
    ASSERT_TRUE(waitUntil([&] { return called(music, "Pause") == 1; }));
    media.resumeIfPaused();
    ASSERT_TRUE(waitUntil([&] { return called(music, "Play") == 1; }));
    EXPECT_EQ(players.playing(2s), std::vector{music});

    for (const auto& player : mocks) {
        const std::string& id = player.first;
        EXPECT_EQ(called(id, "Pause") + called(id, "Play"), id == music ? 2u : 0u) << id;
    }
    players.play("org.example.NotMpris", 1s);          // not an MPRIS name: ignored
    players.pause("org.mpris.MediaPlayer2.gone", 1s);  // no such player: silent
    EXPECT_EQ(called("org.example.NotMpris", "Play"), 0u);
}

TEST_F(MprisMediaPlayersTest, AWedgedPlayerCostsNoMoreThanTheTimeOut) {
    MprisMediaPlayers players(QDBusConnection::sessionBus());
    auto wedged = startPlayer("org.mpris.MediaPlayer2.wedged", "Playing");
    auto healthy = startPlayer("org.mpris.MediaPlayer2.healthy", "Playing");
    wedged->freeze();

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    // The healthy player still answers in time: the questions are asked side by side.
    EXPECT_EQ(players.playing(500ms), std::vector<std::string>{"org.mpris.MediaPlayer2.healthy"});
    players.pause("org.mpris.MediaPlayer2.wedged", 500ms);
    players.play("org.mpris.MediaPlayer2.wedged", 500ms);
    const auto elapsed = Clock::now() - begin;
    // Three calls of 500 ms at most; a call without its time-out would take Qt's 25 s.
    EXPECT_LT(elapsed, 5s);
}

}  // namespace
}  // namespace sayloft
