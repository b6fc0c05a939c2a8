#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/ModifierEvent.h"

namespace sayloft::test {

// Modifier events as a table row writes them: (virtual key, flags).
using Events = std::vector<std::pair<int, std::uint64_t>>;
constexpr std::uint64_t opt = ModifierFlag::option;
constexpr std::uint64_t cmd = ModifierFlag::command;
constexpr std::uint64_t ctl = ModifierFlag::control;

}  // namespace sayloft::test
