#pragma once

#include <string>

namespace sayloft {

// Desktop notifications. Main thread only.
class Notifications {
public:
    virtual ~Notifications() = default;

    // Asks the desktop to let this application show notifications; the answer is not needed.
    virtual void requestAuthorization() = 0;

    // Shows a notification with this title and body, now, under a new id: each call is a
    // separate notification, nothing replaces another. Failures are silent.
    virtual void post(const std::string& title, const std::string& body) = 0;
};

}  // namespace sayloft
