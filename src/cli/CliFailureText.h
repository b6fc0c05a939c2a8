#pragma once

#include <string>

#include "core/model/APIError.h"

namespace sayloft {

// The title and body of the notification that tells the user about a failed transcription, in
// English or Chinese.
struct CliFailureText {
    std::string title;
    std::string body;

    static CliFailureText forError(APIError error, bool chinese);
    // A failure that is not an APIError.
    static CliFailureText forOtherFailure(bool chinese);
};

}  // namespace sayloft
