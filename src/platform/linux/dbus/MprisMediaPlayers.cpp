#include "platform/linux/dbus/MprisMediaPlayers.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCall>
#include <QtDBus/QDBusPendingReply>
#include <QtDBus/QDBusVariant>

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

const QString playerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// What is left until deadline, in whole milliseconds for Qt, at least 1 (0 would mean Qt's
// default of 25 seconds).
int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 1, 600000));
}

bool isPlayerName(const QString& name) {
    return name.startsWith(QLatin1String(MprisMediaPlayers::namePrefix));
}

}  // namespace

MprisMediaPlayers::MprisMediaPlayers(QDBusConnection sessionBus) : bus_(std::move(sessionBus)) {
}

std::vector<std::string> MprisMediaPlayers::playing(Timeout timeout) {
    if (!bus_.isConnected() || timeout.count() <= 0) {
        return {};
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    const QDBusMessage listNames = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage names = bus_.call(listNames, QDBus::Block, remainingMs(deadline));
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty()) {
        return {};
    }

    // All questions first, then the answers: the calls run side by side.
    std::vector<std::pair<QString, QDBusPendingCall>> questions;
    for (const QString& name : names.arguments().constFirst().toStringList()) {
        if (!isPlayerName(name) || Clock::now() >= deadline) {
            continue;
        }
        QDBusMessage get = QDBusMessage::createMethodCall(
            name, playerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << playerInterface << QStringLiteral("PlaybackStatus");
        questions.emplace_back(name, bus_.asyncCall(get, remainingMs(deadline)));
    }
    std::vector<std::string> result;
    for (auto& [name, question] : questions) {
        QDBusPendingReply<QDBusVariant> reply = question;
        reply.waitForFinished();  // bounded by the call's own time-out
        if (reply.isValid() && reply.value().variant().toString() == QLatin1String("Playing")) {
            result.push_back(name.toStdString());
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

void MprisMediaPlayers::pause(const std::string& player, Timeout timeout) {
    command(player, "Pause", timeout);
}

void MprisMediaPlayers::play(const std::string& player, Timeout timeout) {
    command(player, "Play", timeout);
}

void MprisMediaPlayers::command(const std::string& player, const char* method, Timeout timeout) {
    const QString name = QString::fromStdString(player);
    if (!bus_.isConnected() || !isPlayerName(name) || timeout.count() <= 0) {
        return;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(name, playerPath, playerInterface,
                                                             QString::fromLatin1(method));
    bus_.call(call, QDBus::Block, remainingMs(Clock::now() + timeout));
}

}  // namespace sayloft
