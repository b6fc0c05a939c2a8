#include "cli/DesktopChecks.h"

namespace sayloft {

// A build without the desktop layer (SAYLOFT_BUILD_DESKTOP off) cannot look at the desktop.
DesktopChecks::Result DesktopChecks::run() {
    return {{{"desktop", false, "this sayloft-cli was built without the desktop libraries",
              "build with -DSAYLOFT_BUILD_DESKTOP=ON to check X11, Wayland, D-Bus and "
              "PulseAudio"}},
            false,
            false};
}

}  // namespace sayloft
