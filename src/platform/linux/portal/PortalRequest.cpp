#include "platform/linux/portal/PortalRequest.h"

#include <atomic>
#include <utility>

#include <QtCore/QObject>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

namespace sayloft {

const QString PortalDesktop::service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalDesktop::path = QStringLiteral("/org/freedesktop/portal/desktop");

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
// A portal dialog may stay open as long as the user likes; the call itself only creates the
// request and answers at once.
constexpr int callTimeoutMs = 10000;

}  // namespace

class PortalRequest::Receiver : public QObject {
    Q_OBJECT

public:
    Receiver(QDBusConnection bus, QString path, Done done)
        : bus_(std::move(bus)), path_(std::move(path)), done_(std::move(done)) {
        bus_.connect(PortalDesktop::service, path_, requestInterface, QStringLiteral("Response"),
                     this, SLOT(response(uint, QVariantMap)));
    }
    ~Receiver() override {
        bus_.disconnect(PortalDesktop::service, path_, requestInterface, QStringLiteral("Response"),
                        this, SLOT(response(uint, QVariantMap)));
    }

    void finish(PortalResponse response) {
        if (finished_ || !done_) {
            return;
        }
        finished_ = true;
        // The callback may destroy the request; this object outlives it until the loop turns.
        const Done done = done_;
        done(response);
    }

    // The request is gone: nothing more is reported.
    void cancel() { done_ = nullptr; }

public slots:
    void response(uint code, const QVariantMap& results) {
        PortalResponse answer;
        answer.outcome = code == 0   ? PortalResponse::Outcome::granted
                         : code == 1 ? PortalResponse::Outcome::cancelled
                                     : PortalResponse::Outcome::failed;
        answer.results = results;
        finish(std::move(answer));
    }

private:
    QDBusConnection bus_;
    QString path_;
    Done done_;
    bool finished_ = false;
};

PortalRequest::PortalRequest(QDBusConnection bus, const QString& interface, const QString& method,
                             QVariantList arguments, int optionsIndex, Done done) {
    const QString token = newToken();
    receiver_ = std::make_unique<Receiver>(bus, handlePath(bus, QStringLiteral("request"), token),
                                           std::move(done));
    QVariantMap options = arguments.value(optionsIndex).toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments[optionsIndex] = options;
    QDBusMessage call = QDBusMessage::createMethodCall(PortalDesktop::service, PortalDesktop::path,
                                                       interface, method);
    call.setArguments(arguments);
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), receiver_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, receiver_.get(),
                     [receiver = receiver_.get()](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (!finished->isError()) {
                             return;  // the Response signal brings the answer
                         }
                         const QDBusError error = finished->error();
                         receiver->finish({outcomeOfError(error.name()),
                                           {},
                                           error.name() + QStringLiteral(": ") + error.message()});
                     });
}

// The receiver may be running its callback now (which destroys this request), so it goes only
// once the event loop turns again.
PortalRequest::~PortalRequest() {
    receiver_->cancel();
    receiver_.release()->deleteLater();
}

QString PortalRequest::newToken() {
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("sayloft%1").arg(++counter);
}

std::unique_ptr<PortalRequest> PortalRequest::createSession(QDBusConnection bus,
                                                            const QString& interface, Done done) {
    const QVariantMap options{{QStringLiteral("session_handle_token"), newToken()}};
    return std::make_unique<PortalRequest>(std::move(bus), interface,
                                           QStringLiteral("CreateSession"), QVariantList{options},
                                           0, std::move(done));
}

QString PortalRequest::pathOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

QString PortalRequest::handlePath(const QDBusConnection& bus, const QString& kind,
                                  const QString& token) {
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':'))) {
        sender.remove(0, 1);
    }
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return PortalDesktop::path + QLatin1Char('/') + kind + QLatin1Char('/') + sender +
           QLatin1Char('/') + token;
}

PortalResponse::Outcome PortalRequest::outcomeOfError(const QString& errorName) {
    static const QStringList missing{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
    };
    return missing.contains(errorName) ? PortalResponse::Outcome::absent
                                       : PortalResponse::Outcome::failed;
}

std::string PortalResponse::describeFailure(std::string_view portal, std::string_view step,
                                            std::string whenCancelled) const {
    switch (outcome) {
        case Outcome::absent:
            return "the desktop offers no " + std::string(portal) + " portal (" +
                   std::string(step) + ")";
        case Outcome::cancelled:
            return whenCancelled;
        case Outcome::failed:
        case Outcome::granted:
            break;
    }
    return "the " + std::string(portal) + " portal refused " + std::string(step) +
           (error.isEmpty() ? "" : ": " + error.toStdString());
}

}  // namespace sayloft

#include "PortalRequest.moc"
