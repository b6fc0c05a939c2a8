#pragma once

#include <stdexcept>
#include <string>

namespace sayloft {

// Thrown by APIClient::registerDevice when the service has no registration at all (it answers
// v1/register with 404 or 405): its tokens come from its operator, so asking again cannot help.
// Not an APIError: the dictation session never meets it.
class RegistrationNotOffered : public std::runtime_error {
public:
    explicit RegistrationNotOffered(int status)
        : std::runtime_error("HTTP " + std::to_string(status) + " for v1/register"),
          status_(status) {}

    int status() const { return status_; }

private:
    int status_;
};

}  // namespace sayloft
