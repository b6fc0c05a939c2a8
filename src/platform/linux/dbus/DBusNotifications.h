#pragma once

#include <memory>
#include <string>

#include <QtDBus/QDBusConnection>

#include "platform/Notifications.h"

namespace sayloft {

// Desktop notifications through org.freedesktop.Notifications on the session bus, under the
// application name given (the product's name in the chosen language). Each post is a new
// notification (replaces_id 0, the server's default expiry); nothing waits for the server, and a
// missing or failing server is silent.
//
// The server is asked once for its capabilities: when it reads markup in the body
// ("body-markup"), the body's '&', '<' and '>' are escaped so that the text arrives as written.
// Main thread (the replies are handled by its event loop).
class DBusNotifications final : public Notifications {
public:
    DBusNotifications(QDBusConnection sessionBus, std::string appName);
    ~DBusNotifications() override;

    // Linux has no permission to ask for: a notification server shows what any client of the
    // session bus sends. This only asks the server for its capabilities ahead of the first post;
    // the answer is never "refused".
    void requestAuthorization() override;

    void post(const std::string& title, const std::string& body) override;

    static constexpr int callTimeoutMs = 5000;

    // '&', '<', '>' as entities, for a server that reads the body as markup.
    static std::string escapeMarkup(const std::string& text);

private:
    struct State;
    void askCapabilities();

    std::shared_ptr<State> state_;
};

}  // namespace sayloft
