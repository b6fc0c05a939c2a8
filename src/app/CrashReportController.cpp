#include "app/CrashReportController.h"

#include <cctype>
#include <chrono>
#include <string_view>
#include <utility>
#include <vector>

#include "core/diagnostics/CrashReporter.h"

namespace sayloft {
namespace {

bool hasValue(const UserDefaults& defaults, const std::string& key) {
    return defaults.boolean(key) || defaults.integer(key) || defaults.date(key) ||
           defaults.text(key);
}

// The defaults system's usual reading of a value as a Boolean: a number is true when not zero,
// a text when it starts (after blanks, a sign and zeros) with Y, T or a digit 1 to 9; anything
// else, and no value, is false.
bool readsTrue(const UserDefaults& defaults, const std::string& key) {
    if (const auto value = defaults.boolean(key)) {
        return *value;
    }
    if (const auto value = defaults.integer(key)) {
        return *value != 0;
    }
    if (const auto value = defaults.text(key)) {
        std::string_view text = *value;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
            text.remove_prefix(1);
        }
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            text.remove_prefix(1);
        }
        while (!text.empty() && text.front() == '0') {
            text.remove_prefix(1);
        }
        return !text.empty() &&
               std::string_view("YyTt123456789").find(text.front()) != std::string_view::npos;
    }
    return false;
}

UserDefaults::Date dateFromSeconds(double seconds) {
    return UserDefaults::Date(std::chrono::duration_cast<UserDefaults::Date::duration>(
        std::chrono::duration<double>(seconds)));
}

}  // namespace

void CrashReportController::reportCrashesIfAny() {
    if (std::exchange(ran_, true)) {
        return;
    }
    UserDefaults& defaults = deps_.defaults;
    auto reports = CrashReporter::newReports(deps_.desktop.directory, defaults.date(lastSeenKey));
    if (reports.empty()) {
        return;
    }
    // From here on these reports count as seen, whether or not they are ever sent.
    defaults.setDate(lastSeenKey, dateFromSeconds(deps_.runLoop.now()));

    if (!hasValue(defaults, consentKey)) {
        const Texts& texts = deps_.texts;
        deps_.alerts.activateApp();
        const std::size_t chosen = deps_.alerts.runModal(
            Alert{.message = texts.crashConsentTitle,
                  .informativeText = texts.crashConsentBody,
                  .buttons = {texts.sendAutomaticallyButton, texts.dontSendButton}});
        defaults.setBoolean(consentKey, chosen == 0);
    }
    if (!readsTrue(defaults, consentKey) || deps_.desktop.uploader == nullptr) {
        return;
    }
    auto token = deps_.keychain.loadToken();
    if (!token) {
        return;
    }
    deps_.tasks.run([alive = weak_.weakPtr(), &uploader = *deps_.desktop.uploader,
                     reports = std::move(reports), token = std::move(*token),
                     osVersion = deps_.desktop.osVersion](std::stop_token stop) {
        for (const auto& report : reports) {
            if (alive.expired() || stop.stop_requested()) {
                return;
            }
            const auto bytes = CrashReporter::readReport(report);
            if (!bytes) {
                continue;
            }
            try {
                uploader.reportCrash(token, *bytes, osVersion, stop);
            } catch (...) {
                // Dropped without a word: the report was marked seen and is not offered again.
            }
        }
    });
}

}  // namespace sayloft
