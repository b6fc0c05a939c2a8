#pragma once

#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "core/model/APIError.h"

namespace sayloft {

// What sayloft-cli says when a command fails, in one language; both are written side by side in
// CliTexts.cpp. Each command that talks to the service has its own texts: the application's
// notifications speak of recordings and of its tray menu, which a command line has neither of.
struct CliTexts {
    // One command's texts: the first words, then the reason with what to do, by failure.
    struct CommandTexts {
        std::string failed;  // "Transcription failed: "
        std::string network;
        std::string timedOut;
        std::string unauthorized;
        std::string rateLimited;
        std::string serviceError;  // APIError::asrFailed
        std::string badResponse;
    };

    // `sayloft-cli doctor` on Wayland: the two ways of giving Sayloft the hotkey and what each
    // costs, one paragraph each, before the key binding lines.
    struct HotkeyRouteTexts {
        std::string heading;
        std::string evdev;       // the input group: what membership lets every program do
        std::string keyBinding;  // the compositor key binding
    };

    CommandTexts transcribe;
    CommandTexts registration;
    std::string otherFailure;  // any other command, or a failure that is not an APIError
    HotkeyRouteTexts hotkeyRoutes;

    static const CliTexts& english();
    static const CliTexts& chinese();
    static const CliTexts& forLanguage(bool isZh) { return isZh ? chinese() : english(); }

    // One line for standard error, without the line break: "<failed><reason> (<error name>)".
    // detail (an exception's text) stands in for the error name when there is no APIError.
    std::string failure(CliOptions::Command command, std::optional<APIError> error,
                        const std::string& detail = {}) const;
};

}  // namespace sayloft
