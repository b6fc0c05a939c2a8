#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdlib>
#include <utility>
#include <vector>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "core/hotkey/HotkeyCookie.h"
#include "platform/linux/dbus/DBusHotkeyService.h"
#include "qt/DBusMock.h"

namespace sayloft {
namespace {

using test::waitUntil;

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

bool hasPrivateBuses() {
    return std::getenv("DBUS_SYSTEM_BUS_ADDRESS") != nullptr;
}

// Another process's connection to the session bus, as a second Sayloft would have.
QDBusConnection otherConnection(const char* name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QString::fromLatin1(name));
}

TEST(DBusHotkeyService, OnlyTheCliOfThisLoginWithTheCookieReachesSayloft) {
    if (!hasPrivateBuses()) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
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

TEST(DBusHotkeyService, ASecondStartIsAnsweredByTheFirstOrToldItDidNotAnswer) {
    if (!hasPrivateBuses()) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
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
    const auto hung = test::DBusMock::plain(test::DBusMock::Bus::session,
                                            QString::fromLatin1(DBusHotkeyService::serviceName),
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

}  // namespace
}  // namespace sayloft
