#include "app/Onboarding.h"

#include <exception>
#include <utility>

#include "app/MenuBarController.h"
#include "core/model/APIFailure.h"
#include "core/net/RegistrationNotOffered.h"
#include "core/net/RequestCancelled.h"

namespace sayloft {

Onboarding::Onboarding(Dependencies deps) : deps_(std::move(deps)) {
}

Onboarding::~Onboarding() {
    if (pollTimer_) {
        pollTimer_->invalidate();
    }
}


const std::string& Onboarding::consentText(const Url& service, const Texts& texts) {
    return service.isLoopback() ? texts.consentBodyLocal : texts.consentBodyRemote;
}

void Onboarding::runIfNeeded(Callback done) {
    const bool consented = deps_.defaults.boolean(consentKey).value_or(false);
    if (consented && deps_.keychain.loadToken().has_value()) {
        deps_.runLoop.post(weak_.bindWeak([](Onboarding& self) { self.recheckPermissions(); }));
        if (done) {
            done();
        }
        return;
    }
    deps_.runLoop.post(weak_.bindWeak([done = std::move(done)](Onboarding& self) {
        if (!self.deps_.defaults.boolean(consentKey).value_or(false)) {
            if (!self.consent()) {
                self.deps_.runLoop.quit();  // nothing stored: the notice comes again next time
                return;
            }
            self.deps_.defaults.setBoolean(consentKey, true);
        }
        self.requestPermissions();
        self.obtainToken(done);
    }));
}

bool Onboarding::consent() {
    const Texts& texts = deps_.texts;
    deps_.desktop.alerts.activateApp();
    const Alert alert{texts.consentTitle,
                      consentText(deps_.desktop.serviceURL, texts),
                      {texts.agreeButton, texts.quitButton}};
    return deps_.desktop.alerts.runModal(alert) == 0;
}

void Onboarding::requestPermissions() {
    checkMicrophone();
    if (!deps_.desktop.inputReady()) {
        promptAccessibility(false);
    }
}

void Onboarding::recheckPermissions() {
    checkMicrophone();
    if (!deps_.desktop.inputReady()) {
        promptAccessibility(true);
    }
}

// The desktop asks nobody for microphone access; what can be missing is an input to record from.
void Onboarding::checkMicrophone() {
    if (!deps_.desktop.hasDefaultInput()) {
        deps_.notifications.post(deps_.texts.noMicrophoneTitle, deps_.texts.noMicrophoneBody);
    }
}

void Onboarding::promptAccessibility(bool reauth) {
    const Texts& texts = deps_.texts;
    const std::string& remedy = deps_.desktop.inputRemedy == InputRemedy::keyBinding
                                    ? texts.inputRemedyKeyBinding
                                    : texts.inputRemedyNewLogin;
    deps_.desktop.alerts.activateApp();
    const Alert alert{reauth ? texts.inputSetupAgainTitle : texts.inputSetupTitle,
                      (reauth ? texts.inputSetupAgainIntro : texts.inputSetupIntro) + "\n" + remedy,
                      {texts.openHelpButton, texts.laterButton}};
    if (deps_.desktop.alerts.runModal(alert) == 0) {
        deps_.desktop.workspace.openUrl(deps_.desktop.helpUrl);
    }
    // Whichever button: input that starts working later (a binding added, a setting changed) is
    // noticed without a restart. One poll per launch at most.
    if (!pollTimer_) {
        pollTimer_ = deps_.runLoop.schedule(pollSeconds, true,
                                            weak_.bindWeak([](Onboarding& self) { self.pollTick(); }));
    }
}

void Onboarding::pollTick() {
    if (!deps_.desktop.inputReady()) {
        return;
    }
    pollTimer_->invalidate();
    pollTimer_.reset();
    if (onAccessibilityGranted) {
        onAccessibilityGranted();
    }
    const Texts& texts = deps_.texts;
    deps_.notifications.post(texts.inputReadyTitle,
                             texts.inputReadyBodyPrefix +
                                 MenuBarController::currentHotkeyTitle(deps_.defaults, texts) +
                                 texts.inputReadyBodySuffix);
}

void Onboarding::obtainToken(Callback done) {
    LocalService& local = deps_.desktop.localService;
    if (!local.isLocal()) {
        registerDevice(std::move(done));
        return;
    }
    // Starting the service can take seconds (loading the speech model); say so meanwhile.
    deps_.notifications.post(deps_.texts.serviceStartingTitle, deps_.texts.serviceStartingBody);
    local.ensureRunning(weak_.bindWeak(
        [done = std::move(done)](Onboarding& self, bool ok, const std::string& reason) {
            if (ok) {
                self.registerDevice(done);
            } else {
                self.tokenStepFailed(TokenFailure::serviceNotRunning, reason, done);
            }
        }));
}

void Onboarding::registerDevice(Callback done) {
    WeakPtr<Onboarding> weak = weak_.weakPtr();
    RunLoop& runLoop = deps_.runLoop;
    TranscriptionService& service = deps_.service;
    deps_.tasks.run([weak, &runLoop, &service, done = std::move(done)](std::stop_token stop) {
        if (weak.expired()) {
            return;
        }
        Registration registration;
        try {
            registration.token = service.registerDevice(stop);
        } catch (const APIFailure& failure) {
            const APIError error = failure.error;
            registration.failure = error == APIError::network || error == APIError::timedOut
                                       ? TokenFailure::unreachable
                                       : TokenFailure::refused;
            registration.details = std::string(toString(error));
        } catch (const RegistrationNotOffered& error) {
            registration.failure = TokenFailure::notOffered;
            registration.details = error.what();
        } catch (const RequestCancelled&) {
            return;  // the application is going away
        } catch (const std::exception& error) {
            registration.details = error.what();
        } catch (...) {
            registration.details = "unknown failure";
        }
        runLoop.post([weak, registration = std::move(registration), done] {
            if (Onboarding* self = weak.get()) {
                self->finishRegistration(registration, done);
            }
        });
    });
}

void Onboarding::finishRegistration(const Registration& registration, Callback done) {
    if (registration.token.empty()) {
        tokenStepFailed(registration.failure, registration.details, std::move(done));
        return;
    }
    if (!deps_.keychain.saveToken(registration.token)) {
        tokenStepFailed(TokenFailure::notSaved, {}, std::move(done));
        return;
    }
    if (done) {
        done();
    }
}

void Onboarding::tokenStepFailed(TokenFailure failure, const std::string& details, Callback done) {
    const Texts& texts = deps_.texts;
    const std::string service = deps_.desktop.serviceURL.text();
    const std::string tokenFile = deps_.keychain.tokenFile().string();
    // Each failure's title and text; the details line names the service, and the token file
    // where storing by hand is the way out or storing is what failed.
    const std::string* title = &texts.registrationRefusedTitle;
    const std::string* body = &texts.registrationRefusedBody;
    std::string line = service + ": " + details;
    switch (failure) {
        case TokenFailure::serviceNotRunning:
            title = &texts.serviceNotRunningTitle;
            body = &texts.serviceNotRunningBody;
            break;
        case TokenFailure::unreachable:
            title = &texts.serviceUnreachableTitle;
            body = &texts.serviceUnreachableBody;
            break;
        case TokenFailure::refused:
            break;
        case TokenFailure::notOffered:
            title = &texts.registrationNotOfferedTitle;
            body = &texts.registrationNotOfferedBody;
            line += "; " + tokenFile;
            break;
        case TokenFailure::notSaved:
            title = &texts.tokenNotSavedTitle;
            body = &texts.tokenNotSavedBody;
            line = tokenFile;
            break;
    }
    Alert alert;
    alert.message = *title;
    alert.informativeText = *body;
    alert.informativeText += "\n(" + line + ")";
    alert.buttons = {texts.retryButton, texts.quitButton};
    deps_.desktop.alerts.activateApp();
    if (deps_.desktop.alerts.runModal(alert) != 0) {
        deps_.runLoop.quit();
        return;
    }
    // A token stored meanwhile (sayloft-cli register, or the operator's token saved by hand)
    // ends the step without asking the service again.
    if (deps_.keychain.loadToken().has_value()) {
        if (done) {
            done();
        }
        return;
    }
    obtainToken(std::move(done));
}

}  // namespace sayloft
