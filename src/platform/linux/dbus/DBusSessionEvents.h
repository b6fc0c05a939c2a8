#pragma once

#include <vector>

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusConnection>

#include "platform/SessionEvents.h"

class QDBusMessage;

namespace sayloft {

// The moments after which a held key may have been released unseen, from D-Bus:
//   - logind's PrepareForSleep(false) on the system bus: the machine woke up;
//   - this session's LockedHint turning false (unlocked) or Active turning true (switched back
//     to), from org.freedesktop.login1.Session PropertiesChanged on the system bus;
//   - ActiveChanged(false) of org.freedesktop.ScreenSaver and org.gnome.ScreenSaver on the
//     session bus: the screen woke.
// The signals are matched by interface and member, from any sender, so a service that starts
// later is heard too. The session is found through logind (XDG_SESSION_ID, else this process's
// session, else logind's "auto"); when logind is absent there is no lock tracking, and no error.
//
// observe() may be called more than once: the buses are subscribed to once, and every event
// reaches every handler once. Main thread.
class DBusSessionEvents final : public QObject, public SessionEvents {
    Q_OBJECT

public:
    DBusSessionEvents(QDBusConnection systemBus, QDBusConnection sessionBus);
    ~DBusSessionEvents() override;

    void observe(Handler handler) override;

    // The logind session object whose lock state is watched; empty until logind has answered,
    // or when it is absent.
    QString sessionPath() const { return sessionPath_; }

private slots:
    void prepareForSleep(bool starting);
    void screenSaverActiveChanged(bool active);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);

private:
    void subscribe();
    void findSession(QStringList candidates);  // tries each way of naming the session in turn
    void fire();

    QDBusConnection systemBus_;
    QDBusConnection sessionBus_;
    std::vector<Handler> handlers_;
    bool subscribed_ = false;
    QString sessionPath_;
};

}  // namespace sayloft
