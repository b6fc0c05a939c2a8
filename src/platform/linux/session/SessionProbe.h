#pragma once

#include "platform/linux/session/SessionOffer.h"

namespace sayloft {

// Looks at the session Sayloft runs in: environment, X display and its extensions, the Wayland
// compositor's globals, Qt's platform plugins, the session bus, the keyboards under /dev/input
// (opened and closed again, nothing read), on Wayland the desktop portal's interfaces (the
// bus may start the portal for this), and whether a key binding has reached Sayloft
// before (the settings file, read only). Runs before the QApplication
// exists (its result decides which Qt platform to start); each probe is bounded by a round trip
// to a local server.
struct SessionProbe {
    static SessionOffer probe();
};

}  // namespace sayloft
