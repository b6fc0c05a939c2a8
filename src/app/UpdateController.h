#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "app/BackgroundTasks.h"
#include "app/UpdateTexts.h"
#include "app/WeakPtrFactory.h"
#include "core/update/AppcastItem.h"
#include "core/update/UpdateSource.h"
#include "platform/Alerts.h"
#include "platform/Notifications.h"
#include "platform/PackageInstaller.h"
#include "platform/RunLoop.h"
#include "platform/UpdateWindow.h"
#include "platform/Workspace.h"

namespace sayloft {

// Software updates: a check a minute after launch and then daily, and the menu's "Check for
// Updates…". A scheduled check that finds a newer release posts a notification and shows no
// window; a check the user asked for shows its progress and outcome in the update window, from
// which the user downloads the release. The verified package is handed to the desktop's
// installer, or, where there is none, the window says where the file is. The application is
// brought to the front before a newer release is shown.
//
// Main thread; the feed and the download run as background tasks and report back by posting.
// One check or download runs at a time: a scheduled check due meanwhile is skipped, and a user
// check asked for meanwhile takes over the result of the one running.
class UpdateController {
public:
    struct Dependencies {
        RunLoop& runLoop;
        BackgroundTasks& tasks;
        // The run loop, the source and the texts are used by background work too: they must
        // outlive `tasks`.
        UpdateSource& source;
        Notifications& notifications;
        Alerts& alerts;  // for bringing the application to the front
        Workspace& workspace;
        UpdateWindow& window;
        PackageInstaller& installer;
        const UpdateTexts& texts;
        std::string runningVersion;  // shown when up to date
    };

    static constexpr double firstCheckSeconds = 60.0;
    static constexpr double checkIntervalSeconds = 24 * 60 * 60.0;

    explicit UpdateController(Dependencies deps);
    ~UpdateController();
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Starts the schedule: the first check firstCheckSeconds from now, then one a day.
    void startScheduledChecks();
    // The menu command: shows the update window and checks now.
    void checkForUpdates();

private:
    struct Outcome {
        std::optional<AppcastItem> item{};
        std::optional<std::string> path{};
        std::optional<std::string> failure{};  // with the advice for the user
    };

    using Work = std::function<Outcome(UpdateSource&, std::stop_token)>;

    // Runs work in the background and hands its outcome (a failure caught and described) to
    // finish on the main thread, if this controller still exists.
    void runInBackground(Work work, void (UpdateController::*finish)(const Outcome&));
    void check(bool userAsked);
    void finishCheck(const Outcome& outcome);
    void showAvailable();
    void download();
    void finishDownload(const Outcome& outcome);
    void page(std::string title, std::string message, bool busy,
              std::vector<std::pair<std::string, std::function<void()>>> buttons);
    static std::string failureText(const std::exception_ptr& error, const UpdateTexts& texts);

    Dependencies deps_;
    std::shared_ptr<RunLoopTimer> firstTimer_;
    std::shared_ptr<RunLoopTimer> dailyTimer_;
    bool working_ = false;      // a check or a download is running
    bool userWaiting_ = false;  // the window shows the running work
    std::optional<AppcastItem> offered_;
    WeakPtrFactory<UpdateController> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
