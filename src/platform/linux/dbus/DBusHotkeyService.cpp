#include "platform/linux/dbus/DBusHotkeyService.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <iostream>
#include <optional>
#include <utility>

#include <unistd.h>

#include "core/hotkey/HotkeyCookie.h"

namespace sayloft {

class DBusHotkeyService::Adaptor : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.sayloft.Sayloft")

public:
    std::optional<std::string> expectedCookie;  // set on the key binding route
    Report report;
    std::function<void()> onActivate;

public slots:
    void Activate() {
        if (!fromThisUser()) {
            refuse(QStringLiteral("only this user's Sayloft may ask it to take over"));
            return;
        }
        if (onActivate) {
            onActivate();
        }
    }
    void HotkeyPressed(const QString& cookie, qlonglong sentAt) { handle(true, cookie, sentAt); }
    void HotkeyReleased(const QString& cookie, qlonglong sentAt) { handle(false, cookie, sentAt); }

private:
    std::optional<std::uint32_t> callerUid() const {
        const auto uid = connection().interface()->serviceUid(message().service());
        return uid.isValid() ? std::optional<std::uint32_t>(uid.value()) : std::nullopt;
    }

    bool fromThisUser() const { return callerUid() == ::getuid(); }

    void refuse(const QString& why) {
        if (!refusalLogged_) {
            refusalLogged_ = true;
            const auto uid = callerUid();
            std::cerr << "sayloft: refused a call from " << message().service().toStdString()
                      << (uid == ::getuid() ? " (wrong cookie)" : " (another user)")
                      << "; further refusals are not logged\n";
        }
        sendErrorReply(QDBusError::AccessDenied, why);
    }

    void handle(bool down, const QString& given, qlonglong sentAt) {
        if (!expectedCookie || !report) {
            sendErrorReply(QDBusError::NotSupported,
                           QStringLiteral("this Sayloft does not take the hotkey from a "
                                          "compositor key binding (see sayloft-cli doctor)"));
            return;
        }
        const auto uid = callerUid();
        const QByteArray bytes = given.toUtf8();
        if (!uid || !accepts(*uid, ::getuid(), std::string_view(bytes.data(), bytes.size()),
                             *expectedCookie)) {
            refuse(QStringLiteral("only sayloft-cli of this login may report the hotkey"));
            return;
        }
        report(down, sentAt);
    }

    bool refusalLogged_ = false;
};

DBusHotkeyService::DBusHotkeyService(QDBusConnection bus)
    : bus_(std::move(bus)), adaptor_(std::make_unique<Adaptor>()) {
}

DBusHotkeyService::~DBusHotkeyService() {
    if (started_) {
        bus_.unregisterService(QString::fromLatin1(serviceName));
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

DBusHotkeyService::Start DBusHotkeyService::start() {
    if (started_) {
        return Start::owner;
    }
    if (!bus_.isConnected() || !bus_.registerObject(QString::fromLatin1(objectPath), adaptor_.get(),
                                                    QDBusConnection::ExportAllSlots)) {
        return Start::noBus;
    }
    if (!bus_.registerService(QString::fromLatin1(serviceName))) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
        const auto held = bus_.interface()->isServiceRegistered(QString::fromLatin1(serviceName));
        return held.isValid() && held.value() ? Start::alreadyRunning : Start::noBus;
    }
    started_ = true;
    return Start::owner;
}

void DBusHotkeyService::acceptHotkey(std::string cookie, Report report) {
    adaptor_->expectedCookie = std::move(cookie);
    adaptor_->report = std::move(report);
}

void DBusHotkeyService::setOnActivate(std::function<void()> onActivate) {
    adaptor_->onActivate = std::move(onActivate);
}

DBusHotkeyService::Activation DBusHotkeyService::activateRunning(QDBusConnection bus,
                                                                 int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
        QString::fromLatin1(interfaceName), QStringLiteral("Activate"));
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui, timeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage) {
        return Activation::answered;
    }
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return Activation::notRunning;
    }
    std::cerr << "sayloft: " << serviceName << " answered Activate() with "
              << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString()
              << "\n";
    return Activation::noAnswer;
}

bool DBusHotkeyService::accepts(std::uint32_t callerUid, std::uint32_t ownUid,
                                std::string_view cookie, std::string_view expected) {
    return callerUid == ownUid && HotkeyCookie::matches(cookie, expected);
}

}  // namespace sayloft

#include "DBusHotkeyService.moc"
