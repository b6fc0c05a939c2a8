#include "platform/linux/dbus/DBusSessionEvents.h"

#include <utility>

#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <unistd.h>

namespace sayloft {
namespace {

const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
constexpr int lookupTimeoutMs = 5000;

}  // namespace

DBusSessionEvents::DBusSessionEvents(QDBusConnection systemBus, QDBusConnection sessionBus)
    : systemBus_(std::move(systemBus)), sessionBus_(std::move(sessionBus)) {
}

DBusSessionEvents::~DBusSessionEvents() = default;

void DBusSessionEvents::observe(Handler handler) {
    handlers_.push_back(std::move(handler));
    if (!subscribed_) {
        subscribed_ = true;
        subscribe();
    }
}

void DBusSessionEvents::subscribe() {
    if (systemBus_.isConnected()) {
        systemBus_.connect(QString(), logindPath, managerInterface,
                           QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
        // "id:" is looked up with GetSession, "pid" with GetSessionByPID.
        QStringList candidates;
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        if (!id.isEmpty()) {
            candidates << QStringLiteral("id:") + id;
        }
        candidates << QStringLiteral("pid") << QStringLiteral("id:auto");
        findSession(candidates);
    }
    if (sessionBus_.isConnected()) {
        for (const QString& interface : {QStringLiteral("org.freedesktop.ScreenSaver"),
                                         QStringLiteral("org.gnome.ScreenSaver")}) {
            sessionBus_.connect(QString(), QString(), interface, QStringLiteral("ActiveChanged"),
                                this, SLOT(screenSaverActiveChanged(bool)));
        }
    }
}

void DBusSessionEvents::findSession(QStringList candidates) {
    if (candidates.isEmpty()) {
        return;  // no logind, or this process belongs to no session: no lock tracking
    }
    const QString candidate = candidates.takeFirst();
    QDBusMessage call;
    if (candidate == QLatin1String("pid")) {
        call = QDBusMessage::createMethodCall(logindService, logindPath, managerInterface,
                                              QStringLiteral("GetSessionByPID"));
        call << static_cast<quint32>(getpid());
    } else {
        call = QDBusMessage::createMethodCall(logindService, logindPath, managerInterface,
                                              QStringLiteral("GetSession"));
        call << candidate.mid(3);
    }
    auto* watcher = new QDBusPendingCallWatcher(systemBus_.asyncCall(call, lookupTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, candidates](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError()) {
                    if (reply.error().type() == QDBusError::ServiceUnknown) {
                        return;  // no logind at all: asking differently will not help
                    }
                    findSession(candidates);
                    return;
                }
                sessionPath_ = reply.value().path();
                systemBus_.connect(
                    logindService, sessionPath_, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"), this,
                    SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
            });
}

void DBusSessionEvents::prepareForSleep(bool starting) {
    if (!starting) {
        fire();
    }
}

void DBusSessionEvents::screenSaverActiveChanged(bool active) {
    if (!active) {
        fire();
    }
}

void DBusSessionEvents::sessionPropertiesChanged(const QString& interface,
                                                 const QVariantMap& changed, const QStringList&) {
    if (interface != sessionInterface) {
        return;
    }
    const auto locked = changed.constFind(QStringLiteral("LockedHint"));
    const auto active = changed.constFind(QStringLiteral("Active"));
    if ((locked != changed.constEnd() && !locked->toBool()) ||
        (active != changed.constEnd() && active->toBool())) {
        fire();
    }
}

void DBusSessionEvents::fire() {
    // A copy: a handler may register another one.
    const std::vector<Handler> handlers = handlers_;
    for (const Handler& handler : handlers) {
        handler();
    }
}

}  // namespace sayloft
