#pragma once

#include <optional>
#include <string>

namespace sayloft::bench {

// What one attack got from the server, in a few words, and for the attacks that carry a goal
// of their own (pipelining, keep-alive latency) whether it was met and the goal's name.
struct AttackOutcome {
    std::string got{};
    std::optional<bool> ownGoal{};
    std::string goalName{};
};

}  // namespace sayloft::bench
