#include "app/Onboarding.h"

namespace sayloft {

Onboarding::Onboarding(UserDefaults& defaults, const KeychainStore& keychain)
    : defaults_(defaults), keychain_(keychain) {
}

void Onboarding::runIfNeeded(const Callback& done) {
    if (defaults_.boolean(consentKey).value_or(false) && keychain_.loadToken().has_value()) {
        if (done) {
            done();
        }
    }
}

}  // namespace sayloft
