#include "cli/HotkeyCall.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QString>
#include <memory>

#include "cli/QtCliApplication.h"

namespace sayloft {

std::optional<std::string> HotkeyCall::send(bool press, const std::string& cookie,
                                            std::int64_t sentAt) {
    const auto application = QtCliApplication::ensure();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return "no D-Bus session bus ($DBUS_SESSION_BUS_ADDRESS); run this from the desktop "
               "session Sayloft runs in";
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.sayloft.Sayloft"), QStringLiteral("/org/sayloft/Sayloft"),
        QStringLiteral("org.sayloft.Sayloft"),
        press ? QStringLiteral("HotkeyPressed") : QStringLiteral("HotkeyReleased"));
    call << QString::fromStdString(cookie) << static_cast<qlonglong>(sentAt);
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ErrorMessage) {
        return std::nullopt;
    }
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return "Sayloft is not running, or it does not take the hotkey from a key binding in "
               "this session (see sayloft-cli doctor)";
    }
    return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

}  // namespace sayloft
