#pragma once

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include <QtCore/QProcess>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariantList>
#include <QtDBus/QDBusConnection>
#include <gtest/gtest.h>

#include "qt/QtWait.h"

namespace sayloft::test {

// A python3-dbusmock server owning `name` on a bus, run with Debian's /usr/bin/python3 and
// killed when this is destroyed. Either a template (`python3 -m dbusmock -t <template> -p <JSON
// parameters>`) or a plain object at `path` with main interface `interface`. The constructor
// returns once the name is owned on the bus (and throws std::runtime_error when it never is).
class DBusMock {
public:
    enum class Bus { session, system };

    static std::unique_ptr<DBusMock> fromTemplate(Bus bus, const QString& templateName,
                                                  const QString& name, const QString& path,
                                                  const QString& parametersJson = {});
    static std::unique_ptr<DBusMock> plain(Bus bus, const QString& name, const QString& path,
                                           const QString& interface);
    ~DBusMock();
    DBusMock(const DBusMock&) = delete;
    DBusMock& operator=(const DBusMock&) = delete;

    // A method of the org.freedesktop.DBus.Mock interface on `path` (the main object when
    // empty); throws std::runtime_error when it fails.
    QVariantList mock(const QString& method, const QVariantList& arguments,
                      const QString& path = {});

    // Every call the mock received, in order: the method's name and its arguments; those of
    // `method`, each as its argument list.
    std::vector<std::pair<QString, QVariantList>> allCalls();
    std::vector<QVariantList> calls(const QString& method);

    void freeze();  // SIGSTOP: the mock keeps its name but never answers again

    QDBusConnection bus() const;

private:
    DBusMock(Bus bus, QString name, QString path, const QStringList& arguments);

    Bus bus_;
    QString name_;
    QString path_;
    QProcess process_;
    bool frozen_ = false;
};

// The mocks take names on the buses: only on the private ones of scripts/desktop-session, never
// on the user's own.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SYSTEM_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs the private buses of scripts/desktop-session";
        }
    }
};

}  // namespace sayloft::test
