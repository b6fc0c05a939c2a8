#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/BackgroundTasks.h"
#include "app/OnboardingDesktop.h"
#include "app/Texts.h"
#include "app/TranscriptionService.h"
#include "app/WeakPtrFactory.h"
#include "core/config/Url.h"
#include "core/storage/KeychainStore.h"
#include "platform/Notifications.h"
#include "platform/RunLoop.h"
#include "platform/RunLoopTimer.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The start-up check that the user agreed to send recordings, that Sayloft can see the hotkey
// and type, and that a service token is stored; it runs once per launch, before anything
// listens to the hotkey.
//
// A later run (consent stored, token present) hands over at once and re-checks the input and the
// microphone on the next turn of the loop. A first run, on the next turn of the loop: the data
// notice when no consent is stored (declining quits, storing nothing), the input and microphone
// check, then the token: the user's own service is started when it is the local one, a token is
// registered on a worker, stored on the main thread, and only then `done` runs. A failed token
// step asks Retry or Quit; nothing waits on the main thread meanwhile.
//
// When input is not ready, an alert says what to do on this desktop and a 2 s poll watches for
// it; when it becomes ready the poll stops, onAccessibilityGranted runs and one notification
// says which key to hold. The poll outlives `done`. Main thread only.
class Onboarding {
public:
    using Callback = std::function<void()>;

    static constexpr const char* consentKey = "dataExportConsent_v1";
    static constexpr double pollSeconds = 2.0;

    // Everything referenced must outlive this object; the RunLoop and the TranscriptionService
    // must also outlive `tasks`, whose work refers to them.
    struct Dependencies {
        RunLoop& runLoop;
        UserDefaults& defaults;
        const KeychainStore& keychain;
        Notifications& notifications;
        TranscriptionService& service;
        BackgroundTasks& tasks;
        const Texts& texts;
        OnboardingDesktop desktop;
    };

    explicit Onboarding(Dependencies deps);
    ~Onboarding();
    Onboarding(const Onboarding&) = delete;
    Onboarding& operator=(const Onboarding&) = delete;

    // Run once when input, missing before, has become ready. Set by the controller before
    // runIfNeeded.
    Callback onAccessibilityGranted;

    // Calls done before returning when consent is stored and a token is present (the token store
    // is asked only when the consent is there); otherwise runs the first run from the next turn
    // of the loop and calls done once a token is stored.
    void runIfNeeded(Callback done);

    // The data notice's informative text for recordings going to this address.
    static const std::string& consentText(const Url& service, const Texts& texts);

    // Whether the input poll runs.
    bool polling() const { return pollTimer_ != nullptr; }

private:
    enum class TokenFailure { serviceNotRunning, unreachable, refused, notOffered, notSaved };

    struct Registration {
        std::string token;  // empty when it failed
        TokenFailure failure = TokenFailure::refused;
        std::string details;
    };

    bool consent();
    void promptAccessibility(bool reauth);
    void requestPermissions();
    void recheckPermissions();
    void checkMicrophone();
    void pollTick();
    void obtainToken(Callback done);
    void registerDevice(Callback done);
    void finishRegistration(const Registration& registration, Callback done);
    void tokenStepFailed(TokenFailure failure, const std::string& details, Callback done);

    Dependencies deps_;
    std::shared_ptr<RunLoopTimer> pollTimer_;
    WeakPtrFactory<Onboarding> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
