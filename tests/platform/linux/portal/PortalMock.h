#pragma once

#include <memory>

#include <QtCore/QString>
#include <QtCore/QVariantList>
#include <QtDBus/QDBusArgument>

#include "qt/DBusMock.h"

namespace sayloft::test {

// The desktop portal of portal_mock.py on the session bus; parametersJson shapes its answers
// (see the template).
inline std::unique_ptr<DBusMock> startPortal(const QString& parametersJson = {}) {
    return DBusMock::fromTemplate(DBusMock::Bus::session, QStringLiteral(SAYLOFT_PORTAL_MOCK),
                                  QStringLiteral("org.freedesktop.portal.Desktop"),
                                  QStringLiteral("/org/freedesktop/portal/desktop"),
                                  parametersJson);
}

// An a{sv} argument as the mock logged it (a QDBusArgument inside the variant).
inline QVariantMap mapOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        QVariantMap map;
        value.value<QDBusArgument>() >> map;
        return map;
    }
    return value.toMap();
}

}  // namespace sayloft::test
