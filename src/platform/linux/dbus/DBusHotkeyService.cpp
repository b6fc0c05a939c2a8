#include "platform/linux/dbus/DBusHotkeyService.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <iostream>
#include <utility>

#include <unistd.h>

#include "core/hotkey/HotkeyCookie.h"

namespace sayloft {

class DBusHotkeyService::Adaptor : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.sayloft.Sayloft")

public:
    Adaptor(std::string cookie, Report report)
        : cookie_(std::move(cookie)), report_(std::move(report)) {}

public slots:
    void HotkeyPressed(const QString& cookie, qlonglong sentAt) { handle(true, cookie, sentAt); }
    void HotkeyReleased(const QString& cookie, qlonglong sentAt) { handle(false, cookie, sentAt); }

private:
    void handle(bool down, const QString& cookie, qlonglong sentAt) {
        const QString sender = message().service();
        const auto uid = connection().interface()->serviceUid(sender);
        const QByteArray given = cookie.toUtf8();
        if (!uid.isValid() || !accepts(uid.value(), ::getuid(),
                                       std::string_view(given.data(), given.size()), cookie_)) {
            if (!refusalLogged_) {
                refusalLogged_ = true;
                std::cerr << "sayloft: refused a hotkey call from " << sender.toStdString()
                          << (uid.isValid() && uid.value() != ::getuid() ? " (another user)"
                                                                         : " (wrong cookie)")
                          << "; further refusals are not logged\n";
            }
            sendErrorReply(QDBusError::AccessDenied,
                           QStringLiteral("only sayloft-cli of this login may report the hotkey"));
            return;
        }
        report_(down, sentAt);
    }

    std::string cookie_;
    Report report_;
    bool refusalLogged_ = false;
};

DBusHotkeyService::DBusHotkeyService(QDBusConnection bus, std::string cookie, Report report)
    : bus_(std::move(bus)),
      adaptor_(std::make_unique<Adaptor>(std::move(cookie), std::move(report))) {
}

DBusHotkeyService::~DBusHotkeyService() {
    if (started_) {
        bus_.unregisterService(QString::fromLatin1(serviceName));
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

bool DBusHotkeyService::start() {
    if (started_) {
        return true;
    }
    if (!bus_.isConnected() || !bus_.registerObject(QString::fromLatin1(objectPath), adaptor_.get(),
                                                    QDBusConnection::ExportAllSlots)) {
        return false;
    }
    if (!bus_.registerService(QString::fromLatin1(serviceName))) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
        return false;
    }
    started_ = true;
    return true;
}

bool DBusHotkeyService::accepts(std::uint32_t callerUid, std::uint32_t ownUid,
                                std::string_view cookie, std::string_view expected) {
    return callerUid == ownUid && HotkeyCookie::matches(cookie, expected);
}

}  // namespace sayloft

#include "DBusHotkeyService.moc"
