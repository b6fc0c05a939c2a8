#include "qt/DBusMock.h"

#include <csignal>
#include <stdexcept>
#include <utility>

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>

namespace sayloft::test {

DBusMock::DBusMock(Bus bus, QString name, QString path, const QStringList& arguments)
    : bus_(bus), name_(std::move(name)), path_(std::move(path)) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process_.waitForStarted(10000)) {
        throw std::runtime_error("cannot start /usr/bin/python3 -m dbusmock");
    }
    QDBusConnectionInterface* names = this->bus().interface();
    if (!waitUntil([&] { return names->isServiceRegistered(name_).value(); },
                   std::chrono::seconds(20))) {
        throw std::runtime_error("dbusmock did not take its name: " + name_.toStdString());
    }
}

namespace {

QStringList dbusmock(DBusMock::Bus bus, const QStringList& arguments) {
    return QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                       bus == DBusMock::Bus::system ? QStringLiteral("--system")
                                                    : QStringLiteral("--session")} +
           arguments;
}

}  // namespace

std::unique_ptr<DBusMock> DBusMock::fromTemplate(Bus bus, const QString& templateName,
                                                 const QString& name, const QString& path,
                                                 const QString& parametersJson) {
    QStringList arguments{QStringLiteral("-t"), templateName};
    if (!parametersJson.isEmpty()) {
        arguments << QStringLiteral("-p") << parametersJson;
    }
    return std::unique_ptr<DBusMock>(new DBusMock(bus, name, path, dbusmock(bus, arguments)));
}

std::unique_ptr<DBusMock> DBusMock::plain(Bus bus, const QString& name, const QString& path,
                                          const QString& interface) {
    return std::unique_ptr<DBusMock>(
        new DBusMock(bus, name, path, dbusmock(bus, {name, path, interface})));
}

DBusMock::~DBusMock() {
    if (frozen_) {
        ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
    }
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QDBusConnection DBusMock::bus() const {
    return bus_ == Bus::system ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
}

QVariantList DBusMock::mock(const QString& method, const QVariantList& arguments,
                            const QString& path) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        name_, path.isEmpty() ? path_ : path, QStringLiteral("org.freedesktop.DBus.Mock"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus().call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        throw std::runtime_error("dbusmock " + method.toStdString() + ": " +
                                 reply.errorMessage().toStdString());
    }
    return reply.arguments();
}

std::vector<std::pair<QString, QVariantList>> DBusMock::allCalls() {
    const QVariantList reply = mock(QStringLiteral("GetCalls"), {});
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

std::vector<QVariantList> DBusMock::calls(const QString& method) {
    std::vector<QVariantList> result;
    for (auto& [name, arguments] : allCalls()) {
        if (name == method) {
            result.push_back(std::move(arguments));
        }
    }
    return result;
}

void DBusMock::freeze() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
    frozen_ = true;
}

}  // namespace sayloft::test
