#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppHarness.h"
#include "app/CrashReportController.h"
#include "core/diagnostics/CrashReporter.h"

namespace sayloft::test {
namespace {

namespace fs = std::filesystem;
using Value = FakeUserDefaults::Value;
using Names = std::vector<std::string>;

constexpr const char* lastSeen = CrashReportController::lastSeenKey;
constexpr const char* consent = CrashReportController::consentKey;

UserDefaults::Date dateOf(double seconds) {
    return UserDefaults::Date(std::chrono::duration_cast<UserDefaults::Date::duration>(
        std::chrono::duration<double>(seconds)));
}

// Writes "<folder>/Sayloft-<n>.ips" holding "report <n>", modified at the time given.
fs::path writeReport(const fs::path& folder, int n, std::int64_t modified) {
    const fs::path path = folder / ("Sayloft-" + std::to_string(n) + ".ips");
    fs::create_directories(folder);
    std::ofstream(path) << "report " << n;
    const timespec times[2] = {{modified, 0}, {modified, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
}

// One launch step on the harness's fake desktop.
struct World : FakeApp {
    // Reports 1 to count, the newest last, all older than the virtual clock.
    void crashed(int count) {
        for (int n = 1; n <= count; ++n) {
            writeReport(h.crashDesktop().directory, n, 1'700'000'000 + n);
        }
    }
    std::unique_ptr<CrashReportController> make() {
        return std::make_unique<CrashReportController>(CrashReportController::Dependencies{
            .runLoop = h.loop,
            .defaults = h.defaults,
            .alerts = h.alerts,
            .keychain = h.keychain,
            .tasks = tasks,
            .texts = Texts::english(),
            .desktop = h.crashDesktop(),
        });
    }
    void launch() {
        const auto controller = make();
        controller->reportCrashesIfAny();
        tasks.runAll();
    }
};

TEST(CrashReportController, ConsentIsAskedOnceAndDecidesTheUploads) {
    const Names threeNewest = {"report 4", "report 3", "report 2"};
    struct Case {
        const char* name;
        std::optional<Value> storedConsent;
        std::size_t answer;  // to the alert, when one is shown
        bool token;
        std::size_t alerts;
        Value consentAfter;
        Names uploads;
    };
    for (const Case& c : std::vector<Case>{
             {"first crash, send", std::nullopt, 0, true, 1, true, threeNewest},
             {"first crash, closed", std::nullopt, 5, true, 1, false, {}},
             {"first crash, send, no token", std::nullopt, 0, false, 1, true, {}},
             {"granted before", true, 1, true, 0, true, threeNewest},
             {"refused before", false, 0, true, 0, false, {}},
             {"granted, no token", true, 0, false, 0, true, {}},
         }) {
        SCOPED_TRACE(c.name);
        World w;
        if (c.storedConsent) {
            w.h.defaults.values[consent] = *c.storedConsent;
        }
        w.h.alerts.answer(c.answer);
        if (!c.token) {
            w.h.keychain.deleteToken();
        }
        w.crashed(4);
        w.launch();

        EXPECT_EQ(w.h.alerts.shown.size(), c.alerts);
        EXPECT_EQ(w.h.alerts.activations, static_cast<int>(c.alerts));
        EXPECT_EQ(w.h.defaults.values.at(consent), c.consentAfter);
        EXPECT_EQ(w.h.crashUploader.uploads, c.uploads);
        // Seen, whether or not they were sent.
        EXPECT_EQ(w.h.defaults.date(lastSeen), dateOf(w.h.loop.now()));
    }
}

TEST(CrashReportController, NoNewReportTouchesNothing) {
    World w;
    w.launch();  // no folder at all
    w.crashed(2);
    w.h.defaults.setDate(lastSeen, dateOf(1'700'000'002));  // the newest report's own time
    w.launch();
    EXPECT_TRUE(w.h.alerts.shown.empty());
    EXPECT_FALSE(w.h.defaults.values.contains(consent));
    EXPECT_EQ(w.h.defaults.date(lastSeen), dateOf(1'700'000'002));
    EXPECT_EQ(w.tasks.size(), 0u);
}

TEST(CrashReportController, EveryReportIsTriedWhateverBecameOfTheOneBefore) {
    World w;
    w.h.defaults.setBoolean(consent, true);
    w.crashed(3);
    // The newest is too large to be one of ours; the next upload fails; the last goes.
    fs::resize_file(w.h.crashDesktop().directory / "Sayloft-3.ips",
                    CrashReporter::maxReportBytes + 1);
    w.h.crashUploader.outcomes.push({std::make_exception_ptr(APIFailure(APIError::badResponse))});
    w.launch();
    EXPECT_EQ(w.h.crashUploader.uploads, (Names{"report 2", "report 1"}));
    EXPECT_EQ(w.h.crashUploader.token + " on " + w.h.crashUploader.osVersion,
              "device-token on TestOS 1");
}

TEST(CrashReportController, NothingIsSentOnceTheControllerIsGone) {
    World w;
    w.h.defaults.setBoolean(consent, true);
    w.crashed(1);
    w.make()->reportCrashesIfAny();
    w.tasks.runAll();
    EXPECT_TRUE(w.h.crashUploader.uploads.empty());
}

// The controller's launch runs the step once onboarding is done.
TEST(CrashReportController, TheLaunchOffersToSendTheReportsOfEarlierCrashes) {
    FakeApp app;
    auto& [service, tasks, h] = app;
    writeReport(h.crashDesktop().directory, 1, 1'700'000'000);
    h.launch();
    EXPECT_EQ(h.alerts.messages(), Names{Texts::english().crashConsentTitle});
    tasks.runAll();
    EXPECT_EQ(h.crashUploader.uploads, Names{"report 1"});
}

}  // namespace
}  // namespace sayloft::test
