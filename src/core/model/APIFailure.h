#pragma once

#include <stdexcept>
#include <string>

#include "core/model/APIError.h"

namespace sayloft {

// How an APIError travels. The rule at the boundary of the service client (and everything that
// stands in for it): only std::exception subclasses are thrown, never a bare value, so that one
// `catch (const std::exception&)` sees every failure and logs its what(). A failure with an
// enumerated kind is an exception type carrying that kind: catch APIFailure and read `error`.
struct APIFailure : std::runtime_error {
    explicit APIFailure(APIError kind)
        : std::runtime_error("service failure: " + std::string(toString(kind))), error(kind) {}

    APIError error{};
};

}  // namespace sayloft
