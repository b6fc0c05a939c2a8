#include "platform/linux/portal/PortalProbe.h"

#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVariant>

#include "platform/linux/portal/PortalRequest.h"

namespace sayloft {
namespace {

unsigned version(const QDBusConnection& bus, const QString& interface) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        PortalDesktop::service, PortalDesktop::path,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, PortalProbe::timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return 0;
    }
    return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

}  // namespace

PortalOffer PortalProbe::probe(QDBusConnection bus) {
    PortalOffer offer;
    if (!bus.isConnected()) {
        return offer;
    }
    offer.globalShortcuts = version(bus, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"));
    offer.remoteDesktop = version(bus, QStringLiteral("org.freedesktop.portal.RemoteDesktop"));
    return offer;
}

PortalOffer PortalProbe::probeSessionBus() {
    const QString name = QStringLiteral("sayloft-portal-probe");
    PortalOffer offer = probe(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name));
    QDBusConnection::disconnectFromBus(name);
    return offer;
}

bool PortalProbe::registerApp(QDBusConnection bus, const QString& appId, std::string& why) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalDesktop::service, PortalDesktop::path,
        QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    call << appId << QVariantMap();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return true;
    }
    why = PortalRequest::outcomeOfError(reply.errorName()) == PortalResponse::Outcome::absent
              ? "the desktop portal has no host registry (xdg-desktop-portal before 1.19)"
              : "the portal's host registry refused: " + reply.errorMessage().toStdString();
    return false;
}

}  // namespace sayloft
