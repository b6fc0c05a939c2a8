#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdlib>
#include <utility>
#include <vector>

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVirtualObject>
#include <gtest/gtest.h>

#include "core/hotkey/HotkeyCookie.h"
#include "platform/linux/dbus/DBusHotkeyService.h"
#include "qt/DBusMock.h"

namespace sayloft {
namespace {

using test::waitUntil;

struct CliRun {
    int status = -1;
    QString err;
};

// `sayloft-cli hotkey ACTION` with the given runtime folder, the event loop running meanwhile
// (the service answers from it).
CliRun runCli(const QString& runtimeDir, const QString& action) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(SAYLOFT_CLI_PATH), {QStringLiteral("hotkey"), action});
    if (!cli.waitForStarted() || !waitUntil([&] { return cli.state() == QProcess::NotRunning; })) {
        cli.kill();
        cli.waitForFinished();
        return {};
    }
    return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardError())};
}

bool hasPrivateBuses() {
    return std::getenv("DBUS_SYSTEM_BUS_ADDRESS") != nullptr;
}

// Another process's connection to the session bus, as a second Sayloft would have.
QDBusConnection otherConnection(const char* name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QString::fromLatin1(name));
}

// Holds Sayloft's object and takes every call without ever answering: a Sayloft that hangs.
class SilentObject final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override {
        ++calls;
        return true;
    }
    int calls = 0;
};

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
    const CliRun notRunning = runCli(runtime.path(), QStringLiteral("press"));
    EXPECT_EQ(notRunning.status, 1);
    EXPECT_TRUE(notRunning.err.contains(QStringLiteral("Sayloft is not running")))
        << notRunning.err.toStdString();

    ASSERT_EQ(service.start(), DBusHotkeyService::Start::owner);
    {
        DBusHotkeyService second(otherConnection("second"));
        EXPECT_EQ(second.start(), DBusHotkeyService::Start::alreadyRunning);  // one per login
    }
    // The name is there on every route; the hotkey only on the key binding's.
    const CliRun otherRoute = runCli(runtime.path(), QStringLiteral("press"));
    EXPECT_EQ(otherRoute.status, 1);
    EXPECT_TRUE(otherRoute.err.contains(QStringLiteral("NotSupported")))
        << otherRoute.err.toStdString();

    service.acceptHotkey(*cookie,
                         [&](bool down, std::int64_t at) { reports.emplace_back(down, at); });
    EXPECT_EQ(runCli(runtime.path(), QStringLiteral("press")).status, 0);
    EXPECT_EQ(runCli(runtime.path(), QStringLiteral("release")).status, 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].first);
    EXPECT_FALSE(reports[1].first);
    EXPECT_LT(reports[0].second, reports[1].second);  // each process's own start time

    const CliRun wrongCookie = runCli(otherRuntime.path(), QStringLiteral("press"));
    EXPECT_EQ(wrongCookie.status, 1);
    EXPECT_TRUE(wrongCookie.err.contains(QStringLiteral("AccessDenied")))
        << wrongCookie.err.toStdString();
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
    QDBusConnection hung = otherConnection("hung");
    SilentObject silent;
    ASSERT_TRUE(
        hung.registerVirtualObject(QString::fromLatin1(DBusHotkeyService::objectPath), &silent));
    ASSERT_TRUE(hung.registerService(QString::fromLatin1(DBusHotkeyService::serviceName)));
    EXPECT_EQ(DBusHotkeyService::activateRunning(second, 300), Activation::noAnswer);
    EXPECT_EQ(silent.calls, 1);
    hung.unregisterService(QString::fromLatin1(DBusHotkeyService::serviceName));
    hung.unregisterObject(QString::fromLatin1(DBusHotkeyService::objectPath));
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
