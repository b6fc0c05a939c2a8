#pragma once

#include <vector>

#include "cli/DoctorCheck.h"

namespace sayloft {

// The desktop services Sayloft needs, probed as the application would use them: the session type
// and the route Sayloft chooses in it for each capability (the same choice the application
// makes at start), the X display with XInput 2 and XTEST where a route needs them, a tray host
// (a StatusNotifierWatcher with a host on the session bus, or an XEmbed system tray), the
// notification service, and the PulseAudio (or PipeWire) server with its default source. Each
// probe gives up after a few seconds. A build without the desktop libraries reports that it
// cannot check them.
struct DesktopChecks {
    struct Result {
        std::vector<DoctorCheck> checks;
        bool keyBinding = false;  // the hotkey comes from a compositor key binding
        bool wayland = false;     // a Wayland session: the hotkey's routes are worth explaining
    };
    static Result run();
};

}  // namespace sayloft
