#pragma once

#include <functional>
#include <string>

#include "app/InputRemedy.h"
#include "core/config/Url.h"
#include "platform/Alerts.h"
#include "platform/LocalService.h"
#include "platform/Workspace.h"

namespace sayloft {

// What the first run needs beyond what the controller shares with it: the desktop's questions and
// links, the user's own service, and what the composition root knows about this session. The
// references must outlive the Onboarding built from it.
struct OnboardingDesktop {
    Alerts& alerts;
    Workspace& workspace;
    LocalService& localService;
    // The service recordings go to; a loopback address means they never leave the computer.
    Url serviceURL;
    // Main thread. True when Sayloft can see the hotkey and type into other windows in this
    // session (a working hotkey route and a working typing route). Asked again at every tick of
    // the 2 s poll while it is false.
    std::function<bool()> inputReady;
    // What to tell the user while inputReady() is false.
    InputRemedy inputRemedy = InputRemedy::newLogin;
    // Main thread. True when the desktop has a default sound input to record from.
    std::function<bool()> hasDefaultInput;
    // The help page the input setup alert opens (a file:// URL of the shipped page, or the
    // README's section on the web).
    std::string helpUrl;
};

}  // namespace sayloft
