#pragma once

#include <functional>

#include "core/storage/KeychainStore.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The start-up check that the user agreed to send recordings and that a service token is stored.
// This version knows only the later-run path: with the consent stored and a token present it
// hands over at once. The first-run path (data notice, input permission, obtaining a token) is
// not built yet; without consent or token `done` is not called, so the hotkey stays off.
class Onboarding {
public:
    using Callback = std::function<void()>;

    static constexpr const char* consentKey = "dataExportConsent_v1";

    Onboarding(UserDefaults& defaults, const KeychainStore& keychain);

    // Run once when input permission, missing before, has been granted. Set by the controller
    // before runIfNeeded.
    Callback onAccessibilityGranted;

    // Main thread. Calls done before returning when consent is stored and a token is present
    // (the token store is asked only when the consent is there).
    void runIfNeeded(const Callback& done);

private:
    UserDefaults& defaults_;
    const KeychainStore& keychain_;
};

}  // namespace sayloft
