#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/HotkeySetting.h"
#include "core/net/RegistrationNotOffered.h"

namespace sayloft::test {
namespace {

using Posted = FakeNotifications::Posted;

const Texts& en = Texts::english();

// One Onboarding on the harness's fake desktop: the user has agreed and a token is stored unless
// a test says otherwise; input is ready and a microphone is there.
struct OnboardingApp : FakeApp {
    void start(const std::string& url = "http://127.0.0.1:8177") {
        h.serviceURL = *Url::parse(url);
        onboarding = std::make_unique<Onboarding>(Onboarding::Dependencies{
            .runLoop = h.loop,
            .defaults = h.defaults,
            .keychain = h.keychain,
            .notifications = h.notifications,
            .service = service,
            .tasks = tasks,
            .texts = en,
            .desktop = h.onboardingDesktop(),
        });
        onboarding->onAccessibilityGranted = [this] { ++granted; };
        onboarding->runIfNeeded([this] { ++done; });
        doneAtReturn = done;
        h.loop.runUntilIdle();
    }

    void firstRun() {
        h.keychain.deleteToken();
        h.defaults.remove(Onboarding::consentKey);
    }

    int done = 0;
    int doneAtReturn = -1;
    int granted = 0;
    std::unique_ptr<Onboarding> onboarding;
};

class OnboardingTest : public ::testing::Test, protected OnboardingApp {};

// A later run hands over at once; input and the microphone are checked afterwards.
TEST(Onboarding, ALaterRunHandsOverAtOnceAndChecksTheDesktopAfterwards) {
    struct Row {
        bool ready;
        bool microphone;
        std::vector<std::string> alerts;
        std::vector<Posted> posted;
    };
    const Row rows[] = {
        {true, true, {}, {}},
        {false, true, {en.inputSetupAgainTitle}, {}},
        {true, false, {}, {{"No microphone found", en.noMicrophoneBody}}},
    };
    for (const Row& row : rows) {
        OnboardingApp w;
        w.h.keys.trusted = row.ready;
        w.h.microphonePresent = row.microphone;
        w.h.alerts.onShown = [&w](const Alert&) { EXPECT_EQ(w.done, 1); };
        w.start();
        EXPECT_EQ(w.doneAtReturn, 1);
        EXPECT_EQ(w.h.alerts.messages(), row.alerts);
        EXPECT_EQ(w.h.notifications.posted, row.posted);
        EXPECT_EQ(w.onboarding->polling(), !row.ready);
        EXPECT_EQ(w.tasks.size(), 0u);
    }
}

// The notice says where recordings go: a service on this computer (named or by loopback
// address) gets the local wording.
TEST(Onboarding, TheDataNoticeComesFirstAndOnlyAgreeingGoesOn) {
    const struct {
        std::string url;
        const std::string& body;
        bool agreed;
    } rows[] = {
        {"http://localhost:8177", en.consentBodyLocal, true},
        {"http://[::1]:8177", en.consentBodyLocal, false},
        {"https://10.0.0.5:8177", en.consentBodyRemote, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        OnboardingApp w;
        AppHarness& h = w.h;
        h.defaults.values.clear();
        w.firstRun();
        h.keys.trusted = false;       // an input alert follows the notice when agreed
        h.microphonePresent = false;  // told once registered
        h.alerts.answer(row.agreed ? 0 : 1);
        h.alerts.onShown = [&h](const Alert& alert) {
            if (alert.message == en.inputSetupTitle) {  // the flag is stored before anything else
                EXPECT_EQ(h.defaults.boolean(Onboarding::consentKey), true);
            }
        };
        w.start(row.url);
        ASSERT_FALSE(h.alerts.shown.empty());
        EXPECT_EQ(h.alerts.shown[0].message, "Voice Data Notice");
        EXPECT_EQ(h.alerts.shown[0].informativeText.rfind(row.body.substr(0, 60), 0), 0u);
        EXPECT_EQ(h.alerts.shown[0].buttons,
                  (std::vector<std::string>{"Agree & Continue", "Quit"}));
        EXPECT_EQ(h.alerts.activations, static_cast<int>(h.alerts.shown.size()));
        EXPECT_EQ(h.loop.quitRequested(), !row.agreed);
        EXPECT_EQ(h.alerts.shown.size(), row.agreed ? 2u : 1u);
        EXPECT_EQ(h.defaults.values.empty(), !row.agreed);  // nothing stored: asked again
        w.finishWork();
        EXPECT_EQ(w.done, row.agreed ? 1 : 0);
        EXPECT_EQ(h.keychain.loadToken().has_value(), row.agreed);
        EXPECT_EQ(h.notifications.posted.size(), row.agreed ? 1u : 0u);
    }
}

TEST(Onboarding, TheInputAlertSaysWhatToDoHereAndItsFirstButtonOpensTheHelp) {
    struct Row {
        InputRemedy remedy;
        std::size_t button;
        const std::string& remedyText;
        bool opened;
    };
    const Row rows[] = {
        {InputRemedy::keyBinding, 0, en.inputRemedyKeyBinding, true},
        {InputRemedy::newLogin, 1, en.inputRemedyNewLogin, false},
    };
    for (const Row& row : rows) {
        OnboardingApp w;
        AppHarness& h = w.h;
        h.inputRemedy = row.remedy;
        h.keys.trusted = false;
        h.alerts.answer(row.button);
        w.start();
        ASSERT_EQ(h.alerts.shown.size(), 1u);
        EXPECT_EQ(h.alerts.shown[0].informativeText,
                  en.inputSetupAgainIntro + "\n" + row.remedyText);
        EXPECT_EQ(h.alerts.shown[0].buttons, (std::vector<std::string>{"Open Help", "Later"}));
        EXPECT_EQ(h.workspace.opened,
                  row.opened ? std::vector{h.helpUrl} : std::vector<std::string>{});
        EXPECT_TRUE(w.onboarding->polling());  // "Later" too: a later fix is noticed
    }
}

TEST_F(OnboardingTest, InputBecomingReadyIsNoticedWithinTwoSecondsAndAnnouncedOnce) {
    HotkeySetting::write(h.defaults, 54);
    h.keys.trusted = false;
    start();
    h.loop.advance(10.0);  // ticks while nothing changes: silent
    EXPECT_TRUE(h.notifications.posted.empty());

    h.keys.trusted = true;
    h.loop.advance(Onboarding::pollSeconds);
    EXPECT_FALSE(onboarding->polling());
    EXPECT_EQ(granted, 1);
    EXPECT_EQ(
        h.notifications.posted,
        (std::vector<Posted>{{en.inputReadyTitle, "Hold Right Super and speak to try it out"}}));
    h.loop.advance(60.0);
    EXPECT_EQ(h.notifications.posted.size(), 1u);
    EXPECT_EQ(h.loop.activeTimers(), 0u);
}

// Retry registers again, or goes on with the operator's token the user saved by hand while the
// alert was open (a service without registration); Quit stores nothing.
TEST(Onboarding, AFailedRegistrationSaysWhatHappenedAndOffersRetryOrQuit) {
    struct Row {
        FakeTranscriptionService::Registration failure;
        std::string title;
        std::string details;  // the alert's last line, after the service's address
        std::size_t button;   // 0: Retry, 1: Quit
        std::optional<std::string> savedMeanwhile;
        std::optional<std::string> token;  // stored in the end
    };
    const auto notOffered = std::make_exception_ptr(RegistrationNotOffered(404));
    const std::string notOfferedDetails = "HTTP 404 for v1/register; ";  // + the token file
    const Row rows[] = {
        {APIError::network, en.serviceUnreachableTitle, "network)", 0, {}, "second-token"},
        {APIError::rateLimited, en.registrationRefusedTitle, "rateLimited)", 0, {}, "second-token"},
        {notOffered, en.registrationNotOfferedTitle, notOfferedDetails, 0, {}, "second-token"},
        {notOffered, en.registrationNotOfferedTitle, notOfferedDetails, 0, "from-the-operator",
         "from-the-operator"},
        {APIError::network, en.serviceUnreachableTitle, "network)", 1, {}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.details);
        OnboardingApp w;
        auto& [service, tasks, h] = static_cast<FakeApp&>(w);
        h.keychain.deleteToken();
        h.alerts.answer(row.button);
        h.alerts.onShown = [&](const Alert&) {
            if (row.savedMeanwhile) {
                h.keychain.saveToken(*row.savedMeanwhile);
            }
        };
        service.scriptRegistration(row.failure);
        if (row.token == "second-token") {
            service.scriptRegistration(std::string("second-token"));
        }
        w.start();
        w.finishWork();
        ASSERT_EQ(h.alerts.messages(), std::vector{row.title});
        const std::string& text = h.alerts.shown[0].informativeText;
        EXPECT_EQ(text.substr(text.rfind('\n') + 1),
                  "(http://127.0.0.1:8177: " + row.details +
                      (row.details.ends_with("; ") ? h.keychain.tokenFile().string() + ")" : ""));
        EXPECT_EQ(h.alerts.shown[0].buttons, (std::vector<std::string>{"Retry", "Quit"}));
        w.finishWork();
        EXPECT_EQ(h.keychain.loadToken(), row.token);
        EXPECT_EQ(service.registrations, row.token == "second-token" ? 2 : 1);
        EXPECT_EQ(w.done, row.token ? 1 : 0);
        EXPECT_EQ(h.loop.quitRequested(), !row.token);
    }
}

TEST_F(OnboardingTest, TheLocalServiceIsStartedFirstAndItsFailureOffersRetry) {
    h.keychain.deleteToken();
    h.localService.local = true;
    start();
    EXPECT_EQ(h.localService.ensureCalls, 1);
    EXPECT_EQ(tasks.size(), 0u);  // nothing is sent before the service answers

    h.localService.finish(false, "sayloft-server did not answer within 10 s");
    ASSERT_EQ(h.alerts.messages(),
              std::vector<std::string>{"The transcription service is not running"});
    EXPECT_NE(h.alerts.shown[0].informativeText.find(
                  "\n(http://127.0.0.1:8177: sayloft-server did not answer within 10 s)"),
              std::string::npos);
    EXPECT_EQ(h.localService.ensureCalls, 2);  // Retry
    EXPECT_EQ(done, 0);

    h.localService.finish(true);
    finishWork();
    EXPECT_EQ(h.keychain.loadToken(), "registered-token");
    EXPECT_EQ(done, 1);
}

TEST_F(OnboardingTest, NothingRunsAfterTheOnboardingIsGone) {
    h.keychain.deleteToken();
    h.keys.trusted = false;
    start();
    onboarding.reset();
    EXPECT_EQ(h.loop.activeTimers(), 0u);
    finishWork();
    EXPECT_EQ(done, 0);
    EXPECT_EQ(h.keychain.loadToken(), std::nullopt);
}

}  // namespace
}  // namespace sayloft::test
