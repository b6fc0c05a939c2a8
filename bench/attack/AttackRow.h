#pragma once

#include <optional>
#include <string>

#include "AttackOutcome.h"
#include "WellBehavedClient.h"

namespace sayloft::bench {

// One line of the report: an attack, the server's memory, what the well-behaved client got
// meanwhile and what the attacker got.
struct AttackRow {
    std::string attack{};
    double peakGrowthMiB = 0;
    std::optional<double> heldMiB{};  // nullopt: the server was gone
    WellBehavedClient::Result client{};
    AttackOutcome outcome{};
    bool serverDied = false;

    static constexpr double growthGoalMiB = 64;

    bool growthMet() const { return !serverDied && peakGrowthMiB < growthGoalMiB; }
    bool clientServed() const { return client.healthFailures == 0 && client.transcribed; }
    bool passed() const { return growthMet() && clientServed() && outcome.ownGoal.value_or(true); }
};

}  // namespace sayloft::bench
