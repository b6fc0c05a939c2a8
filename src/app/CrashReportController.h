#pragma once

#include <memory>
#include <utility>

#include "app/BackgroundTasks.h"
#include "app/CrashReportDesktop.h"
#include "app/Texts.h"
#include "app/WeakPtrFactory.h"
#include "core/storage/KeychainStore.h"
#include "platform/Alerts.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The launch step that offers, once and for all, to send crash reports, and from then on sends
// the new ones (or not) without asking. Main thread; the uploads run as one background task,
// one report after the other, newest first. No failure is ever told: a report that cannot be
// read or sent is dropped, and counts as seen all the same.
class CrashReportController {
public:
    // The wall-clock time of the last launch that found new reports; later reports are new.
    static constexpr const char* lastSeenKey = "crashReportLastSeen";
    // Absent until the consent alert was answered; then whether reports are sent.
    static constexpr const char* consentKey = "crashReportConsent";

    // Everything referenced must outlive the controller; desktop.uploader must outlive tasks.
    struct Dependencies {
        RunLoop& runLoop;
        UserDefaults& defaults;
        Alerts& alerts;
        const KeychainStore& keychain;
        BackgroundTasks& tasks;
        const Texts& texts;
        CrashReportDesktop desktop;
    };

    explicit CrashReportController(Dependencies deps) : deps_(std::move(deps)) {}

    // Runs once per process (later calls do nothing): finds the reports newer than the last
    // look, marks them seen, asks for consent when it was never given or refused, and starts
    // their upload when consent was given and a device token exists.
    void reportCrashesIfAny();

private:
    Dependencies deps_;
    bool ran_ = false;
    // The upload task holds this weakly: once the controller is gone it sends nothing more.
    WeakPtrFactory<CrashReportController> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
