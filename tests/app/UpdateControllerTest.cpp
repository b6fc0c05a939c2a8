#include <exception>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/UpdateController.h"
#include "core/update/UpdateError.h"

namespace sayloft::test {
namespace {

using Code = UpdateError::Code;

// Answers each check and download with the next scripted result.
class ScriptedSource final : public UpdateSource {
public:
    Script<std::optional<AppcastItem>> checks;
    Script<std::filesystem::path> downloads;
    int checkCount = 0;

    std::optional<AppcastItem> check(std::stop_token) override {
        ++checkCount;
        return checks.next(std::nullopt);
    }
    std::filesystem::path download(const AppcastItem&, std::stop_token) override {
        return downloads.next({});
    }
};

std::exception_ptr failure(Code code, const std::string& detail) {
    return std::make_exception_ptr(UpdateError(code, detail));
}

const AppcastItem release{.version = "1.3",
                          .displayVersion = "1.3",
                          .packageUrl = "https://e.org/p.deb",
                          .length = 10,
                          .signature = "s",
                          .notesUrl = "https://e.org/notes"};

class UpdateControllerTest : public ::testing::Test, protected FakeApp {
protected:
    ScriptedSource source;
    FakeUpdateWindow window;
    FakePackageInstaller installer;
    UpdateController updates{{.runLoop = h.loop,
                              .tasks = tasks,
                              .source = source,
                              .notifications = h.notifications,
                              .alerts = h.alerts,
                              .workspace = h.workspace,
                              .window = window,
                              .installer = installer,
                              .texts = UpdateTexts::english(),
                              .runningVersion = "1.2"}};
};

TEST_F(UpdateControllerTest, ScheduledChecksNotifyOncePerReleaseAndShowNoWindow) {
    source.checks.push({release, release, failure(Code::unreachable, "offline"), std::nullopt});
    updates.startScheduledChecks();
    h.loop.advance(59);
    finishWork();
    EXPECT_EQ(source.checkCount, 0);
    h.loop.advance(1);
    finishWork();
    ASSERT_EQ(h.notifications.posted.size(), 1u);
    EXPECT_EQ(h.notifications.posted[0].title, "Sayloft 1.3 is available");
    for (int day = 0; day < 3; ++day) {
        h.loop.advance(UpdateController::checkIntervalSeconds);
        finishWork();
    }
    EXPECT_EQ(source.checkCount, 4);
    EXPECT_EQ(h.notifications.posted.size(), 1u);  // the same release, a failure, up to date
    EXPECT_TRUE(window.pages.empty());
    EXPECT_EQ(h.alerts.activations, 0);
}

// Release notes open only over https; the window stays open meanwhile.
TEST_F(UpdateControllerTest, AUserCheckShowsEachOutcomeInTheWindow) {
    struct Case {
        Script<std::optional<AppcastItem>>::Answer answer;
        std::string title;
        std::string messagePart;
        std::vector<std::string> buttons;
    };
    AppcastItem plain = release;
    plain.notesUrl = "http://e.org/notes";
    const std::string available = "Sayloft 1.3 is available";
    const Case cases[] = {
        {std::nullopt, "You're up to date", "Sayloft 1.2 is", {"OK"}},
        {release, available, "version 1.2", {"Release Notes", "Later", "Download"}},
        {plain, available, "version 1.2", {"Later", "Download"}},
        {failure(Code::unreachable, "no route"),
         "The update check failed",
         "internet connection",
         {"OK"}},
    };
    for (const auto& c : cases) {
        source.checks.push({c.answer});
        updates.checkForUpdates();
        EXPECT_TRUE(window.current().busy);
        EXPECT_EQ(window.current().title, "Checking for updates…");
        finishWork();
        EXPECT_FALSE(window.current().busy);
        EXPECT_EQ(window.current().title, c.title);
        EXPECT_NE(window.current().message.find(c.messagePart), std::string::npos)
            << window.current().message;
        EXPECT_EQ(window.current().buttons, c.buttons);
        if (c.buttons.front() == "Release Notes") {
            EXPECT_TRUE(window.press("Release Notes"));
            EXPECT_TRUE(window.open);
        }
        const std::size_t okOrLater = c.buttons.size() == 1 ? 0 : c.buttons.size() - 2;
        EXPECT_TRUE(window.press(c.buttons[okOrLater]));
        EXPECT_FALSE(window.open);
    }
    EXPECT_EQ(h.workspace.opened, std::vector<std::string>{"https://e.org/notes"});
    EXPECT_TRUE(h.notifications.posted.empty());
    EXPECT_GE(h.alerts.activations, 4);
}

TEST_F(UpdateControllerTest, DownloadsHandTheVerifiedPackageToTheInstallerOrSayWhereItIs) {
    source.checks.push({release, release, release});
    source.downloads.push({std::filesystem::path("/cache/sayloft_1.3_amd64.deb"),
                           std::filesystem::path("/cache/sayloft_1.3_amd64.deb"),
                           failure(Code::badSignature, "not signed")});
    const struct {
        bool installer;
        std::string title;
        std::string messagePart;
    } cases[] = {
        {true, "The update is open in your software installer", "Install it there"},
        {false, "The update is downloaded", "sudo apt install /cache/sayloft_1.3_amd64.deb"},
        {true, "The update could not be downloaded", "Nothing was kept"},
    };
    for (const auto& c : cases) {
        installer.available = c.installer;
        updates.checkForUpdates();
        finishWork();
        ASSERT_TRUE(window.press("Download"));
        EXPECT_EQ(window.current().title, "Downloading the update…");
        finishWork();
        EXPECT_EQ(window.current().title, c.title);
        EXPECT_NE(window.current().message.find(c.messagePart), std::string::npos)
            << window.current().message;
    }
    EXPECT_EQ(installer.opened, std::vector<std::string>{"/cache/sayloft_1.3_amd64.deb"});
}

TEST_F(UpdateControllerTest, AUserCheckDuringAScheduledOneTakesOverItsResult) {
    source.checks.push({release});
    updates.startScheduledChecks();
    h.loop.advance(UpdateController::firstCheckSeconds);
    updates.checkForUpdates();  // the scheduled check is still running
    EXPECT_EQ(tasks.size(), 1u);
    finishWork();
    EXPECT_EQ(source.checkCount, 1);
    EXPECT_EQ(window.current().title, "Sayloft 1.3 is available");
    EXPECT_TRUE(h.notifications.posted.empty());
}

}  // namespace
}  // namespace sayloft::test
