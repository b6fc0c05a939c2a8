#include <cstdlib>
#include <ostream>
#include <string>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "qt/DBusMock.h"
#include "platform/linux/dbus/DBusNotifications.h"

namespace sayloft {
namespace {

using test::DBusMock;
using test::waitUntil;

const QString daemonName = QStringLiteral("org.freedesktop.Notifications");
const QString daemonPath = QStringLiteral("/org/freedesktop/Notifications");

class DBusNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
        }
    }

    static std::unique_ptr<DBusMock> startDaemon(const QString& capabilities = {}) {
        return DBusMock::fromTemplate(
            DBusMock::Bus::session, QStringLiteral("notification_daemon"), daemonName, daemonPath,
            capabilities.isEmpty()
                ? QString()
                : QStringLiteral("{\"capabilities\": \"%1\"}").arg(capabilities));
    }
};

struct Text {
    const char* name;
    const char* title;
    const char* body;
    const char* shownByMarkupServer;  // the body a server reading markup must receive
};

void PrintTo(const Text& value, std::ostream* out) {
    *out << value.name;
}

class NotificationTextTest : public DBusNotificationsTest,
                             public ::testing::WithParamInterface<Text> {};

TEST_P(NotificationTextTest, ArrivesExactlyAsWritten) {
    const Text text = GetParam();
    for (const bool markup : {true, false}) {
        SCOPED_TRACE(markup ? "server reads markup" : "server shows plain text");
        const auto daemon =
            startDaemon(markup ? QStringLiteral("body body-markup") : QStringLiteral("body"));
        DBusNotifications notifications(QDBusConnection::sessionBus(), "Sayloft");
        notifications.requestAuthorization();
        notifications.post(text.title, text.body);
        ASSERT_TRUE(waitUntil([&] { return !daemon->calls(QStringLiteral("Notify")).empty(); }));
        const QVariantList call = daemon->calls(QStringLiteral("Notify")).at(0);
        ASSERT_EQ(call.size(), 8);
        EXPECT_EQ(call[0].toString(), QStringLiteral("Sayloft"));
        EXPECT_EQ(call[1].toUInt(), 0u);  // replaces nothing
        EXPECT_EQ(call[3].toString().toStdString(), text.title);
        EXPECT_EQ(call[4].toString().toStdString(), markup ? text.shownByMarkupServer : text.body);
        EXPECT_EQ(call[7].toInt(), -1);  // the server's own expiry
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NotificationTextTest,
    ::testing::Values(Text{"Ascii", "Transcription failed", "Network error, try again",
                           "Network error, try again"},
                      Text{"Chinese", "转写失败", "测试中文🙂,请稍后再试",
                           "测试中文🙂,请稍后再试"},
                      Text{"EmDashAndQuotes", "Sayloft",
                           "Microphone unavailable \u2014 \"input\" device changed",
                           "Microphone unavailable \u2014 \"input\" device changed"},
                      Text{"MarkupCharacters", "a < b", "<b>not bold</b> & more",
                           "&lt;b&gt;not bold&lt;/b&gt; &amp; more"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(DBusNotificationsTest, EveryPostIsANewNotification) {
    const auto daemon = startDaemon();
    DBusNotifications notifications(QDBusConnection::sessionBus(), "Sayloft");
    notifications.post("one", "first");  // before any capabilities are known
    notifications.post("two", "second");
    notifications.post("three", "third");
    ASSERT_TRUE(waitUntil([&] { return daemon->calls(QStringLiteral("Notify")).size() == 3; }));
    const auto calls = daemon->calls(QStringLiteral("Notify"));
    const char* titles[] = {"one", "two", "three"};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i][3].toString().toStdString(), titles[i]) << "in the order posted";
        EXPECT_EQ(calls[i][1].toUInt(), 0u);
    }
}

TEST_F(DBusNotificationsTest, TheApplicationNameIsTheProductsInTheChosenLanguage) {
    const auto daemon = startDaemon();
    DBusNotifications english(QDBusConnection::sessionBus(), "Sayloft");
    english.post("title", "body");
    ASSERT_TRUE(waitUntil([&] { return daemon->calls(QStringLiteral("Notify")).size() == 1; }));
    DBusNotifications chinese(QDBusConnection::sessionBus(), "言泉");
    chinese.post("title", "body");
    ASSERT_TRUE(waitUntil([&] { return daemon->calls(QStringLiteral("Notify")).size() == 2; }));
    const auto calls = daemon->calls(QStringLiteral("Notify"));
    EXPECT_EQ(calls[0][0].toString(), QStringLiteral("Sayloft"));
    EXPECT_EQ(calls[1][0].toString(), QString::fromUtf8("言泉"));
}

TEST_F(DBusNotificationsTest, NoServerIsSilentAndAServerStartedLaterIsUsed) {
    DBusNotifications notifications(QDBusConnection::sessionBus(), "Sayloft");
    notifications.requestAuthorization();
    notifications.post("lost", "nobody shows this");
    // The failed calls come back as errors while the mock starts (its start pumps the event
    // loop); none may throw or crash, and the notifier stays usable.
    const auto daemon = startDaemon();
    notifications.post("found", "a server now");
    const auto arrived = [&] {
        for (const auto& call : daemon->calls(QStringLiteral("Notify"))) {
            if (call.value(3).toString() == QStringLiteral("found")) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(waitUntil(arrived));

    // No bus at all.
    DBusNotifications disconnected(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/sayloft-bus"),
                                      "nowhere"),
        "Sayloft");
    disconnected.requestAuthorization();
    disconnected.post("lost", "no bus");
}

}  // namespace
}  // namespace sayloft
