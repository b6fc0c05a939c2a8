#pragma once

#include <optional>
#include <string>

#include "app/Texts.h"
#include "core/model/APIError.h"

namespace sayloft {

// What a failed transcription tells the user (a notification's title and body) and whether its
// recording is kept for a retry: only failures a retry may cure keep it. The one table of these
// reactions, shared by the application and sayloft-cli.
struct FailureReaction {
    std::string title;
    std::string body;
    bool keepRecording = false;

    // nullopt as the error means a failure that is not an APIError.
    static FailureReaction to(std::optional<APIError> error, const Texts& texts);
};

}  // namespace sayloft
