#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QtCore/QString>
#include <QtCore/QVariantList>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusConnection>

namespace sayloft {

// The desktop portal (org.freedesktop.portal.Desktop at /org/freedesktop/portal/desktop) and its
// request pattern: a method that asks the user or the desktop returns a Request object at once
// and answers later with that object's Response(u response, a{sv} results) signal.
struct PortalDesktop {
    static const QString service;
    static const QString path;
};

// How a portal request ended.
struct PortalResponse {
    enum class Outcome {
        granted,    // response 0: results hold the answer
        cancelled,  // response 1: the user dismissed the dialog
        failed,     // response 2, or the portal answered the call with an error
        absent,     // no portal on the bus, or it lacks the interface or method
    };
    Outcome outcome = Outcome::failed;
    QVariantMap results;
    QString error;  // the D-Bus error's name and message when the call itself failed

    // Why a request to `portal` ("RemoteDesktop") failed at `step` ("creating a session"), in one
    // line for the log and doctor; whenCancelled when the user dismissed the dialog.
    std::string describeFailure(std::string_view portal, std::string_view step,
                                std::string whenCancelled) const;
};

// One call of the request pattern. The Response signal is subscribed to on the handle path
// predicted from this connection's unique name and a fresh token before the call is made, so an
// answer that comes before the call's reply is not lost. `done` runs once, on the connection's
// thread (the main thread); the request does nothing once it is destroyed.
class PortalRequest {
public:
    using Done = std::function<void(const PortalResponse&)>;

    // arguments: the method's arguments; the options a{sv} at optionsIndex receives
    // handle_token.
    PortalRequest(QDBusConnection bus, const QString& interface, const QString& method,
                  QVariantList arguments, int optionsIndex, Done done);
    ~PortalRequest();
    PortalRequest(const PortalRequest&) = delete;
    PortalRequest& operator=(const PortalRequest&) = delete;

    // A token unique in this process, usable as the last element of an object path.
    static QString newToken();

    // The CreateSession request of a session-based portal interface (GlobalShortcuts,
    // RemoteDesktop), with a fresh session_handle_token.
    static std::unique_ptr<PortalRequest> createSession(QDBusConnection bus,
                                                        const QString& interface, Done done);
    // An object path as a portal sends it: a string in older portals, an object path in newer
    // ones (session handles, signal arguments).
    static QString pathOf(const QVariant& value);
    // The object path the portal gives a request or session made with this token by this
    // connection: /org/freedesktop/portal/desktop/<kind>/<sender>/<token>.
    static QString handlePath(const QDBusConnection& bus, const QString& kind,
                              const QString& token);
    // The outcome a failed call stands for: absent for a missing service, interface or method.
    static PortalResponse::Outcome outcomeOfError(const QString& errorName);

private:
    class Receiver;
    std::unique_ptr<Receiver> receiver_;
};

}  // namespace sayloft
