#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdlib>
#include <utility>
#include <vector>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "DBusMock.h"
#include "core/hotkey/HotkeyCookie.h"
#include "platform/linux/dbus/DBusHotkeyService.h"

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

TEST(DBusHotkeyService, OnlyTheCliOfThisLoginWithTheCookieReachesSayloft) {
    if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
    }
    QTemporaryDir runtime;
    QTemporaryDir otherRuntime;
    const auto cookie = HotkeyCookie::create(HotkeyCookie::location(runtime.path().toStdString()));
    ASSERT_TRUE(cookie.has_value());
    ASSERT_TRUE(HotkeyCookie::create(HotkeyCookie::location(otherRuntime.path().toStdString())));

    std::vector<std::pair<bool, std::int64_t>> reports;
    DBusHotkeyService service(QDBusConnection::sessionBus(), *cookie,
                              [&](bool down, std::int64_t at) { reports.emplace_back(down, at); });
    const CliRun notRunning = runCli(runtime.path(), QStringLiteral("press"));
    EXPECT_EQ(notRunning.status, 1);
    EXPECT_TRUE(notRunning.err.contains(QStringLiteral("Sayloft is not running")))
        << notRunning.err.toStdString();

    ASSERT_TRUE(service.start());
    DBusHotkeyService second(QDBusConnection::sessionBus(), *cookie, [](bool, std::int64_t) {});
    EXPECT_FALSE(second.start());  // one Sayloft per login owns the name

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

TEST(DBusHotkeyService, AcceptsOnlyTheSameUserWithTheCookie) {
    EXPECT_TRUE(DBusHotkeyService::accepts(1000, 1000, "c00k1e", "c00k1e"));
    EXPECT_FALSE(DBusHotkeyService::accepts(1001, 1000, "c00k1e", "c00k1e"));  // another user
    EXPECT_FALSE(DBusHotkeyService::accepts(0, 1000, "c00k1e", "c00k1e"));     // even root
    EXPECT_FALSE(DBusHotkeyService::accepts(1000, 1000, "c00k1f", "c00k1e"));
    EXPECT_FALSE(DBusHotkeyService::accepts(1000, 1000, "", ""));
}

}  // namespace
}  // namespace sayloft
