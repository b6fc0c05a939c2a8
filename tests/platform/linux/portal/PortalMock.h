#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QtCore/QString>
#include <QtCore/QVariantList>
#include <QtDBus/QDBusArgument>
#include <gtest/gtest.h>

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

// Every call the mock received, in order: the method's name and its arguments.
inline std::vector<std::pair<QString, QVariantList>> allCalls(DBusMock& mock) {
    const QVariantList reply = mock.mock(QStringLiteral("GetCalls"), {});
    std::vector<std::pair<QString, QVariantList>> calls;
    const auto list = reply.value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 time = 0;
        QString method;
        QVariantList arguments;
        list.beginStructure();
        list >> time >> method >> arguments;
        list.endStructure();
        calls.emplace_back(method, arguments);
    }
    list.endArray();
    return calls;
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

// The portal tests need the private session bus of scripts/desktop-session.
class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
        }
    }
};

}  // namespace sayloft::test
