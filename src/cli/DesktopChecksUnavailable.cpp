#include "cli/DesktopChecks.h"

namespace sayloft {

// A build without the desktop layer (SAYLOFT_BUILD_DESKTOP off) cannot look at the desktop.
std::vector<DoctorCheck> DesktopChecks::run() {
    return {{"desktop", false, "this sayloft-cli was built without the desktop libraries",
             "build with -DSAYLOFT_BUILD_DESKTOP=ON to check X11, D-Bus and PulseAudio"}};
}

}  // namespace sayloft
