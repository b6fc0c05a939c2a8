#pragma once

#include <stdexcept>

namespace sayloft {

// Thrown by the service client and HedgedRequest::run when the caller's std::stop_token was
// triggered: the operation was abandoned on the caller's request, not failed. It is not an
// APIError and carries no user-facing meaning; a caller that cancels should simply drop it.
struct RequestCancelled : std::runtime_error {
    RequestCancelled() : std::runtime_error("request cancelled") {}
};

}  // namespace sayloft
