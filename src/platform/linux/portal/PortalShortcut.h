#pragma once

#include <QtCore/QList>
#include <QtCore/QMetaType>
#include <QtCore/QString>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusArgument>

namespace sayloft {

// One entry of the GlobalShortcuts portal's shortcut lists, D-Bus type (sa{sv}): the shortcut's
// id and its properties (description, preferred_trigger; the portal answers with
// trigger_description).
struct PortalShortcut {
    QString id;
    QVariantMap properties;

    // Registers the type and its list with QtDBus; idempotent.
    static void registerWithDBus();
    // Reads an a(sa{sv}) value as received (a QDBusArgument inside the variant); empty for
    // anything else.
    static QList<PortalShortcut> listFrom(const QVariant& value);
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

}  // namespace sayloft

Q_DECLARE_METATYPE(sayloft::PortalShortcut)
