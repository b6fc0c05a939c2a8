#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "app/HotkeySetting.h"
#include "app/Onboarding.h"
#include "core/net/RegistrationNotOffered.h"
#include "fakes/FakeAlerts.h"
#include "fakes/FakeLocalService.h"
#include "fakes/FakeNotifications.h"
#include "fakes/FakeTranscriptionService.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/ManualBackgroundTasks.h"
#include "fakes/VirtualRunLoop.h"

namespace sayloft::test {
namespace {

using Posted = FakeNotifications::Posted;

const Texts& en = Texts::english();

// One Onboarding on the fake desktop. The user has agreed and a token is stored unless a test
// says otherwise; input is ready and a microphone is there.
class OnboardingTest : public ::testing::Test {
protected:
    OnboardingTest() {
        defaults.setBoolean(Onboarding::consentKey, true);
        keychain.saveToken("stored-token");
    }

    void start(const Texts& texts = en, const std::string& service = "http://127.0.0.1:8177") {
        onboarding = std::make_unique<Onboarding>(Onboarding::Dependencies{
            .runLoop = loop,
            .defaults = defaults,
            .keychain = keychain,
            .notifications = notifications,
            .service = transcription,
            .tasks = tasks,
            .texts = texts,
            .desktop = {
                .alerts = alerts,
                .workspace = workspace,
                .localService = local,
                .serviceURL = *Url::parse(service),
                .inputReady = [this] { return inputReady; },
                .inputRemedy = remedy,
                .hasDefaultInput = [this] { return microphone; },
                .helpUrl = "file:///usr/share/sayloft/help/index.html",
            },
        });
        onboarding->onAccessibilityGranted = [this] { ++granted; };
        onboarding->runIfNeeded([this] { ++done; });
        doneAtReturn = done;
        loop.runUntilIdle();
    }

    // The registration on its worker, then what it posted back.
    void finishRegistration() {
        tasks.runAll();
        loop.runUntilIdle();
    }

    void firstRun() {
        keychain.deleteToken();
        defaults.remove(Onboarding::consentKey);
    }

    VirtualRunLoop loop;
    FakeUserDefaults defaults;
    TempHome home;
    KeychainStore keychain{home.path()};
    FakeNotifications notifications;
    FakeTranscriptionService transcription;
    ManualBackgroundTasks tasks;
    FakeAlerts alerts;
    FakeWorkspace workspace;
    FakeLocalService local;
    bool inputReady = true;
    bool microphone = true;
    InputRemedy remedy = InputRemedy::keyBinding;
    int done = 0;
    int doneAtReturn = -1;
    int granted = 0;
    std::unique_ptr<Onboarding> onboarding;
};

TEST_F(OnboardingTest, ALaterRunHandsOverAtOnceAndRechecksInputAfterwards) {
    struct Row {
        bool inputReady;
        std::vector<std::string> alerts;
    };
    const Row rows[] = {
        {true, {}},
        {false, {en.inputSetupAgainTitle}},
    };
    for (const Row& row : rows) {
        inputReady = row.inputReady;
        alerts.onShown = [this](const Alert&) { EXPECT_EQ(done, 1); };
        start();
        EXPECT_EQ(doneAtReturn, 1);
        EXPECT_EQ(alerts.messages(), row.alerts);
        EXPECT_EQ(onboarding->polling(), !row.inputReady);
        EXPECT_EQ(tasks.size(), 0u);
        alerts.shown.clear();
        done = 0;
    }
}

TEST_F(OnboardingTest, TheDataNoticeComesFirstAndOnlyAgreeingGoesOn) {
    struct Row {
        std::size_t button;
        bool agreed;
    };
    for (const Row row : {Row{0, true}, Row{1, false}}) {
        defaults.values.clear();
        firstRun();
        inputReady = false;  // an input alert follows the notice when agreed
        alerts.shown.clear();
        alerts.activations = 0;
        done = 0;
        alerts.answer(row.button);
        alerts.onShown = [this](const Alert& alert) {
            if (alert.message == en.inputSetupTitle) {  // the flag is stored before anything else
                EXPECT_EQ(defaults.boolean(Onboarding::consentKey), true);
            }
        };
        start();
        ASSERT_FALSE(alerts.shown.empty());
        EXPECT_EQ(alerts.shown.front().message, "Voice Data Notice");
        EXPECT_EQ(alerts.shown.front().buttons,
                  (std::vector<std::string>{"Agree & Continue", "Quit"}));
        EXPECT_EQ(alerts.activations, static_cast<int>(alerts.shown.size()));
        EXPECT_EQ(loop.quitRequested(), !row.agreed);
        EXPECT_EQ(alerts.shown.size(), row.agreed ? 2u : 1u);
        EXPECT_EQ(tasks.size(), row.agreed ? 1u : 0u);
        if (!row.agreed) {
            EXPECT_TRUE(defaults.values.empty());  // nothing stored: asked again next time
        }
        finishRegistration();
        EXPECT_EQ(done, row.agreed ? 1 : 0);
        EXPECT_EQ(keychain.loadToken().has_value(), row.agreed);
    }
}

// A service on this computer (named or by loopback address) gets the local wording.
TEST_F(OnboardingTest, TheNoticeSaysWhereRecordingsGo) {
    const std::pair<std::string, const std::string*> rows[] = {
        {"http://localhost:8177", &en.consentBodyLocal},
        {"http://[::1]:8177", &en.consentBodyLocal},
        {"https://10.0.0.5:8177", &en.consentBodyRemote},
    };
    for (const auto& [service, body] : rows) {
        SCOPED_TRACE(service);
        firstRun();
        alerts.shown.clear();
        start(en, service);
        ASSERT_FALSE(alerts.shown.empty());
        EXPECT_EQ(alerts.shown.front().informativeText.rfind(body->substr(0, 60), 0), 0u);
        finishRegistration();
    }
}

TEST_F(OnboardingTest, TheInputAlertSaysWhatToDoHereAndItsFirstButtonOpensTheHelp) {
    struct Row {
        InputRemedy remedy;
        std::size_t button;
        const std::string& remedyText;
        std::size_t opened;
    };
    const Row rows[] = {
        {InputRemedy::keyBinding, 0, en.inputRemedyKeyBinding, 1},
        {InputRemedy::newLogin, 1, en.inputRemedyNewLogin, 0},
    };
    for (const Row& row : rows) {
        remedy = row.remedy;
        inputReady = false;
        workspace.opened.clear();
        alerts.shown.clear();
        alerts.answer(row.button);
        start();
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.shown[0].informativeText, en.inputSetupAgainIntro + "\n" + row.remedyText);
        EXPECT_EQ(alerts.shown[0].buttons, (std::vector<std::string>{"Open Help", "Later"}));
        EXPECT_EQ(workspace.opened.size(), row.opened);
        if (row.opened > 0) {
            EXPECT_EQ(workspace.opened[0], "file:///usr/share/sayloft/help/index.html");
        }
        EXPECT_TRUE(onboarding->polling());  // "Later" too: a later fix is noticed
    }
}

TEST_F(OnboardingTest, InputBecomingReadyIsNoticedWithinTwoSecondsAndAnnouncedOnce) {
    HotkeySetting::write(defaults, 54);
    inputReady = false;
    start();
    loop.advance(10.0);  // ticks while nothing changes: silent
    EXPECT_TRUE(notifications.posted.empty());

    inputReady = true;
    loop.advance(Onboarding::pollSeconds);
    EXPECT_FALSE(onboarding->polling());
    EXPECT_EQ(granted, 1);
    EXPECT_EQ(
        notifications.posted,
        (std::vector<Posted>{{en.inputReadyTitle, "Hold Right Super and speak to try it out"}}));
    loop.advance(60.0);
    EXPECT_EQ(notifications.posted.size(), 1u);
    EXPECT_EQ(loop.activeTimers(), 0u);
}

TEST_F(OnboardingTest, AMissingMicrophoneIsToldOnceOnEitherPath) {
    microphone = false;
    for (const bool first : {false, true}) {
        if (first) {
            keychain.deleteToken();
        }
        notifications.posted.clear();
        start();
        finishRegistration();
        EXPECT_EQ(notifications.posted,
                  (std::vector<Posted>{{"No microphone found", en.noMicrophoneBody}}));
        EXPECT_TRUE(alerts.shown.empty());
    }
}

TEST_F(OnboardingTest, AFailedRegistrationSaysWhatHappenedAndRetryTriesAgain) {
    struct Row {
        FakeTranscriptionService::Registration failure;
        std::string title;
        std::string details;
    };
    const auto notOffered = std::make_exception_ptr(RegistrationNotOffered(404));
    const Row rows[] = {
        {APIError::network, en.serviceUnreachableTitle, "(http://127.0.0.1:8177: network)"},
        {APIError::rateLimited, en.registrationRefusedTitle,
         "(http://127.0.0.1:8177: rateLimited)"},
        {notOffered, en.registrationNotOfferedTitle,
         "(http://127.0.0.1:8177: HTTP 404 for v1/register; " + keychain.tokenFile().string() +
             ")"},
    };
    for (const Row& row : rows) {
        keychain.deleteToken();
        alerts.shown.clear();
        done = 0;
        transcription.scriptRegistration(row.failure);
        transcription.scriptRegistration(std::string("second-token"));
        start();
        finishRegistration();
        ASSERT_EQ(alerts.shown.size(), 1u) << row.title;
        EXPECT_EQ(alerts.shown[0].message, row.title);
        EXPECT_EQ(alerts.shown[0].buttons, (std::vector<std::string>{"Retry", "Quit"}));
        const std::string& text = alerts.shown[0].informativeText;
        EXPECT_EQ(text.substr(text.rfind('\n') + 1), row.details);
        EXPECT_EQ(done, 0);

        EXPECT_EQ(tasks.size(), 1u);  // Retry: registering again
        finishRegistration();
        EXPECT_EQ(keychain.loadToken(), "second-token");
        EXPECT_EQ(done, 1);
        EXPECT_FALSE(loop.quitRequested());
    }
}

TEST_F(OnboardingTest, QuitAfterAFailedRegistrationStoresNothing) {
    keychain.deleteToken();
    transcription.scriptRegistration(APIError::network);
    alerts.answer(1);
    start();
    finishRegistration();
    EXPECT_TRUE(loop.quitRequested());
    EXPECT_EQ(tasks.size(), 0u);
    EXPECT_EQ(keychain.loadToken(), std::nullopt);
    EXPECT_EQ(done, 0);
}

// For a service without registration the user saves the operator's token by hand while the
// alert is open; Retry then goes on with that token.
TEST_F(OnboardingTest, RetryGoesOnWithATokenSavedMeanwhile) {
    keychain.deleteToken();
    transcription.scriptRegistration(std::make_exception_ptr(RegistrationNotOffered(405)));
    alerts.onShown = [this](const Alert&) { keychain.saveToken("from-the-operator"); };
    start();
    finishRegistration();
    EXPECT_EQ(transcription.registrationCalls(), 1);
    EXPECT_EQ(keychain.loadToken(), "from-the-operator");
    EXPECT_EQ(done, 1);
}

TEST_F(OnboardingTest, TheLocalServiceIsStartedFirstAndItsFailureOffersRetry) {
    keychain.deleteToken();
    local.local = true;
    start();
    EXPECT_EQ(local.ensureCalls, 1);
    EXPECT_EQ(tasks.size(), 0u);  // nothing is sent before the service answers

    local.finish(false, "sayloft-server did not answer within 10 s");
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "The transcription service is not running");
    EXPECT_NE(alerts.shown[0].informativeText.find(
                  "\n(http://127.0.0.1:8177: sayloft-server did not answer within 10 s)"),
              std::string::npos);
    EXPECT_EQ(local.ensureCalls, 2);  // Retry
    EXPECT_EQ(done, 0);

    local.finish(true);
    finishRegistration();
    EXPECT_EQ(keychain.loadToken(), "registered-token");
    EXPECT_EQ(done, 1);
}

TEST_F(OnboardingTest, NothingRunsAfterTheOnboardingIsGone) {
    keychain.deleteToken();
    inputReady = false;
    start();
    onboarding.reset();
    EXPECT_EQ(loop.activeTimers(), 0u);
    finishRegistration();
    EXPECT_EQ(done, 0);
    EXPECT_EQ(keychain.loadToken(), std::nullopt);
}

}  // namespace
}  // namespace sayloft::test
