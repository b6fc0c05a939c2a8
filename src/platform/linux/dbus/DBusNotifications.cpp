#include "platform/linux/dbus/DBusNotifications.h"

#include <utility>
#include <vector>

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

namespace sayloft {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

struct DBusNotifications::State {
    State(QDBusConnection connection, std::string name)
        : bus(std::move(connection)), appName(std::move(name)) {}

    QDBusConnection bus;
    std::string appName;
    enum class Markup { unknown, asking, yes, no } markup = Markup::unknown;
    std::vector<std::pair<std::string, std::string>> waiting;  // posted while asking

    void send(const std::string& title, const std::string& body) const {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
        const std::string shownBody = markup == Markup::yes ? escapeMarkup(body) : body;
        call << QString::fromStdString(appName) << 0u << QString() << QString::fromStdString(title)
             << QString::fromStdString(shownBody) << QStringList() << QVariantMap() << -1;
        // Fire and forget: the reply (the id, or an error) is of no use.
        bus.asyncCall(call, callTimeoutMs);
    }
};

DBusNotifications::DBusNotifications(QDBusConnection sessionBus, std::string appName)
    : state_(std::make_shared<State>(std::move(sessionBus), std::move(appName))) {
}

DBusNotifications::~DBusNotifications() = default;

std::string DBusNotifications::escapeMarkup(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

void DBusNotifications::requestAuthorization() {
    if (state_->markup == State::Markup::unknown) {
        askCapabilities();
    }
}

void DBusNotifications::post(const std::string& title, const std::string& body) {
    if (!state_->bus.isConnected()) {
        return;
    }
    switch (state_->markup) {
        case State::Markup::yes:
        case State::Markup::no:
            state_->send(title, body);
            return;
        case State::Markup::asking:
            state_->waiting.emplace_back(title, body);
            return;
        case State::Markup::unknown:
            state_->waiting.emplace_back(title, body);
            askCapabilities();
            return;
    }
}

void DBusNotifications::askCapabilities() {
    if (!state_->bus.isConnected()) {
        return;
    }
    state_->markup = State::Markup::asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(state_->bus.asyncCall(call, callTimeoutMs));
    std::weak_ptr<State> weak = state_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [weak](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const auto state = weak.lock();
                         if (!state) {
                             return;
                         }
                         const QDBusPendingReply<QStringList> reply = *finished;
                         if (reply.isError()) {
                             // No server yet: ask again at the next post, in case one starts.
                             state->markup = State::Markup::unknown;
                         } else {
                             state->markup = reply.value().contains(QStringLiteral("body-markup"))
                                                 ? State::Markup::yes
                                                 : State::Markup::no;
                         }
                         for (const auto& [title, body] : std::exchange(state->waiting, {})) {
                             state->send(title, body);
                         }
                     });
}

}  // namespace sayloft
