#pragma once

#include <string_view>

namespace sayloft {

// The failure kinds of the service client. Values without text: only the controller turns them
// into words for the user.
enum class APIError { network, timedOut, unauthorized, rateLimited, asrFailed, badResponse };

// A stable lower-case name for logs, exit codes and test output ("network", "timedOut", ...).
constexpr std::string_view toString(APIError error) {
    switch (error) {
        case APIError::network:
            return "network";
        case APIError::timedOut:
            return "timedOut";
        case APIError::unauthorized:
            return "unauthorized";
        case APIError::rateLimited:
            return "rateLimited";
        case APIError::asrFailed:
            return "asrFailed";
        case APIError::badResponse:
            return "badResponse";
    }
    return "unknown";
}

}  // namespace sayloft
