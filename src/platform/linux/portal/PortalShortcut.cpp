#include "platform/linux/portal/PortalShortcut.h"

#include <QtDBus/QDBusMetaType>

namespace sayloft {

void PortalShortcut::registerWithDBus() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    (void)registered;
}

QList<PortalShortcut> PortalShortcut::listFrom(const QVariant& value) {
    registerWithDBus();
    if (value.canConvert<QList<PortalShortcut>>() &&
        value.metaType() == QMetaType::fromType<QList<PortalShortcut>>()) {
        return value.value<QList<PortalShortcut>>();
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return {};
    }
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QStringLiteral("a(sa{sv})")) {
        return {};
    }
    QList<PortalShortcut> list;
    argument >> list;
    return list;
}

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace sayloft
