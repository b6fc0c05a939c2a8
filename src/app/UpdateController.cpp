#include "app/UpdateController.h"

#include <exception>
#include <iostream>
#include <string_view>
#include <utility>

#include "core/update/UpdateClient.h"
#include "core/update/UpdateError.h"

namespace sayloft {

namespace {

// The failure itself, without the advice that follows it for the user.
std::string_view firstParagraph(std::string_view text) {
    return text.substr(0, text.find("\n\n"));
}

}  // namespace

UpdateController::UpdateController(Dependencies deps) : deps_(std::move(deps)) {
}

UpdateController::~UpdateController() {
    for (const auto& timer : {firstTimer_, dailyTimer_}) {
        if (timer) {
            timer->invalidate();
        }
    }
}


void UpdateController::startScheduledChecks() {
    if (firstTimer_) {
        return;
    }
    firstTimer_ = deps_.runLoop.schedule(
        firstCheckSeconds, false, weak_.bindWeak([](UpdateController& self) {
            self.check(false);
            self.dailyTimer_ = self.deps_.runLoop.schedule(
                checkIntervalSeconds, true, self.weak_.bindWeak([](auto& s) { s.check(false); }));
        }));
}

void UpdateController::checkForUpdates() {
    deps_.alerts.activateApp();
    userWaiting_ = true;
    if (working_) {
        page(deps_.texts.checkingTitle, "", true, {});
        return;
    }
    check(true);
}

void UpdateController::runInBackground(Work work,
                                       void (UpdateController::*finish)(const Outcome&)) {
    working_ = true;
    deps_.tasks.run([weak = weak_.weakPtr(), work = std::move(work), finish, &source = deps_.source,
                     &runLoop = deps_.runLoop, &texts = deps_.texts](std::stop_token stop) {
        Outcome outcome;
        try {
            outcome = work(source, stop);
        } catch (...) {
            outcome = Outcome{.failure = failureText(std::current_exception(), texts)};
        }
        runLoop.post([weak, finish, outcome = std::move(outcome)] {
            if (UpdateController* controller = weak.get()) {
                controller->working_ = false;
                (controller->*finish)(outcome);
            }
        });
    });
}

void UpdateController::check(bool userAsked) {
    if (working_) {
        return;
    }
    if (userAsked) {
        page(deps_.texts.checkingTitle, "", true, {});
    }
    runInBackground([](UpdateSource& source,
                       std::stop_token stop) { return Outcome{.item = source.check(stop)}; },
                    &UpdateController::finishCheck);
}

void UpdateController::finishCheck(const Outcome& outcome) {
    const UpdateTexts& texts = deps_.texts;
    if (outcome.failure) {
        std::cerr << "sayloft: update check: " << firstParagraph(*outcome.failure) << "\n";
        if (userWaiting_) {
            page(texts.checkFailedTitle, *outcome.failure, false, {{texts.okButton, {}}});
        }
        return;
    }
    if (!outcome.item) {
        if (userWaiting_) {
            page(texts.upToDateTitle,
                 UpdateTexts::fill(texts.upToDateBody, "version", deps_.runningVersion), false,
                 {{texts.okButton, {}}});
        }
        return;
    }
    const bool known = offered_ && offered_->version == outcome.item->version;
    offered_ = outcome.item;
    if (userWaiting_) {
        showAvailable();
    } else if (!known) {
        // Once per release and run: a daily reminder of the same release would nag.
        deps_.notifications.post(
            UpdateTexts::fill(texts.availableTitle, "version", offered_->displayVersion),
            texts.availableNotification);
    }
}

void UpdateController::showAvailable() {
    const UpdateTexts& texts = deps_.texts;
    deps_.alerts.activateApp();
    std::vector<std::pair<std::string, std::function<void()>>> buttons;
    if (UpdateClient::isHttps(offered_->notesUrl)) {
        buttons.emplace_back(texts.releaseNotesButton,
                             [this] { deps_.workspace.openUrl(offered_->notesUrl); });
    }
    buttons.emplace_back(texts.laterButton, std::function<void()>{});
    buttons.emplace_back(texts.downloadButton, [this] { download(); });
    page(UpdateTexts::fill(texts.availableTitle, "version", offered_->displayVersion),
         UpdateTexts::fill(texts.availableBody, "version", deps_.runningVersion), false,
         std::move(buttons));
}

void UpdateController::download() {
    if (working_ || !offered_) {
        return;
    }
    page(deps_.texts.downloadingTitle, offered_->packageUrl, true, {});
    runInBackground(
        [item = *offered_](UpdateSource& source, std::stop_token stop) {
            return Outcome{.path = source.download(item, stop).string()};
        },
        &UpdateController::finishDownload);
}

void UpdateController::finishDownload(const Outcome& outcome) {
    const UpdateTexts& texts = deps_.texts;
    userWaiting_ = true;
    deps_.alerts.activateApp();
    if (outcome.failure) {
        std::cerr << "sayloft: update download: " << firstParagraph(*outcome.failure) << "\n";
        page(texts.downloadFailedTitle, *outcome.failure, false, {{texts.okButton, {}}});
    } else if (deps_.installer.open(*outcome.path)) {
        page(texts.openedTitle, texts.openedBody, false, {{texts.okButton, {}}});
    } else {
        page(texts.savedTitle, UpdateTexts::fill(texts.savedBody, "path", *outcome.path), false,
             {{texts.okButton, {}}});
    }
}

void UpdateController::page(std::string title, std::string message, bool busy,
                            std::vector<std::pair<std::string, std::function<void()>>> buttons) {
    UpdateWindowPage shown{.title = std::move(title), .message = std::move(message), .busy = busy};
    std::vector<std::function<void()>> actions;
    for (auto& [label, action] : buttons) {
        shown.buttons.push_back(std::move(label));
        actions.push_back(std::move(action));
    }
    // A button without an action closes the window; one with an action keeps it open for the
    // page the action shows (release notes leave the page as it is). Once the window is closed,
    // work still running ends without it.
    deps_.window.show(shown, weak_.bindWeak([actions = std::move(actions)](UpdateController& self,
                                                                           std::size_t chosen) {
        if (chosen < actions.size() && actions[chosen]) {
            actions[chosen]();
            return;
        }
        self.userWaiting_ = false;
        if (chosen < actions.size()) {
            self.deps_.window.close();
        }
    }));
}

std::string UpdateController::failureText(const std::exception_ptr& error,
                                          const UpdateTexts& texts) {
    try {
        std::rethrow_exception(error);
    } catch (const UpdateError& failure) {
        using Code = UpdateError::Code;
        const std::string& advice = [&]() -> const std::string& {
            switch (failure.code()) {
                case Code::insecureUrl:
                    return texts.adviceInsecure;
                case Code::unreachable:
                case Code::cancelled:
                    return texts.adviceUnreachable;
                case Code::badAnswer:
                case Code::badFeed:
                    return texts.adviceBadFeed;
                case Code::wrongLength:
                case Code::badSignature:
                    return texts.adviceUnverified;
                case Code::storeFailed:
                    return texts.adviceStore;
            }
            return texts.adviceBadFeed;
        }();
        return std::string(failure.what()) + ".\n\n" + advice;
    } catch (const std::exception& failure) {
        return std::string(failure.what()) + ".\n\n" + texts.adviceBadFeed;
    }
}

}  // namespace sayloft
