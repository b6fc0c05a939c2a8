#pragma once

#include <stdexcept>

namespace sayloft {

// Thrown by HedgedRequest::run when its deadline passed before any attempt succeeded.
// APIClient::transcribe turns it into APIError::timedOut.
struct DeadlineExceeded : std::runtime_error {
    DeadlineExceeded() : std::runtime_error("deadline exceeded") {}
};

}  // namespace sayloft
