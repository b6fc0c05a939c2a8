#pragma once

#include <stdexcept>
#include <string>

#include "core/audio/RecorderError.h"

namespace sayloft {

// How a RecorderError travels: as an exception type carrying it, never as a bare value (the rule
// of APIFailure), so that one `catch (const std::exception&)` sees every failure. what() is the
// description shown to the user.
struct RecorderFailure : std::runtime_error {
    explicit RecorderFailure(RecorderError kind)
        : std::runtime_error(std::string(errorDescription(kind))), error(kind) {}

    RecorderError error{};
};

}  // namespace sayloft
