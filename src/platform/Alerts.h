#pragma once

#include <cstddef>

#include "platform/Alert.h"

namespace sayloft {

// Questions that the user must answer before the application goes on: the data notice, the
// input setup, a failed registration. Main thread only.
class Alerts {
public:
    virtual ~Alerts() = default;

    // Brings this application to the front, so that the next alert gets the keyboard focus even
    // though the application has no window of its own.
    virtual void activateApp() = 0;

    // Shows the alert, raised and focused, and returns once the user has chosen a button: its
    // index in alert.buttons (0 is the first). Escape and closing the window choose the last
    // button. The caller's code does not go on meanwhile; the event loop does (posted work and
    // timers run while the alert is open). alert.buttons is never empty.
    virtual std::size_t runModal(const Alert& alert) = 0;
};

}  // namespace sayloft
