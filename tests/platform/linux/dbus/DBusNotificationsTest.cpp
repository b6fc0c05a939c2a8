#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "platform/linux/dbus/DBusNotifications.h"
#include "qt/DBusMock.h"

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

TEST_F(DBusNotificationsTest, EachTextArrivesExactlyAsWritten) {
    struct Text {
        const char* title;
        const char* body;
        const char* shownByMarkupServer;  // the body a server reading markup must receive
    };
    const Text texts[] = {
        {"Transcription failed", "Network error, try again", "Network error, try again"},
        {"转写失败", "测试中文🙂,请稍后再试", "测试中文🙂,请稍后再试"},
        {"a < b", "<b>not bold</b> & more", "&lt;b&gt;not bold&lt;/b&gt; &amp; more"},
    };
    for (const bool markup : {true, false}) {
        SCOPED_TRACE(markup ? "server reads markup" : "server shows plain text");
        const auto daemon =
            startDaemon(markup ? QStringLiteral("body body-markup") : QStringLiteral("body"));
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
    const auto daemon = startDaemon();
    notifications.post("found", "a server now");
    EXPECT_TRUE(waitUntil([&] {
        const auto calls = daemon->calls(QStringLiteral("Notify"));
        return std::any_of(calls.begin(), calls.end(), [](const QVariantList& call) {
            return call.value(3).toString() == QStringLiteral("found");
        });
    }));
}

}  // namespace
}  // namespace sayloft
