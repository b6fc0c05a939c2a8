#include "server/ChaosPlan.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace sayloft {
namespace {

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

ChaosPlan::ChaosPlan(const ChaosPlan& other)
    : stall_(other.stall_),
      reset_(other.reset_),
      unavailable_(other.unavailable_),
      unauthorized_(other.unauthorized_),
      rateLimited_(other.rateLimited_),
      malformedJson_(other.malformedJson_),
      stallSeconds_(other.stallSeconds_),
      random_(other.random_) {
}

std::optional<ChaosPlan> ChaosPlan::parse(std::string_view faults, std::uint64_t seed,
                                          std::string* error) {
    auto fail = [&](std::string reason) -> std::optional<ChaosPlan> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    ChaosPlan plan;
    plan.random_.seed(seed);
    double* shares[] = {&plan.stall_,        &plan.reset_,       &plan.unavailable_,
                        &plan.unauthorized_, &plan.rateLimited_, &plan.malformedJson_};
    constexpr std::string_view names[] = {"stall", "reset", "503", "401", "429", "json"};
    double total = 0;
    while (!faults.empty()) {
        const auto comma = faults.find(',');
        const std::string_view item = faults.substr(0, comma);
        faults = comma == std::string_view::npos ? std::string_view() : faults.substr(comma + 1);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            return fail("chaos item '" + std::string(item) + "' is not name=value");
        }
        const std::string_view name = item.substr(0, equals);
        const auto value = number(item.substr(equals + 1));
        if (!value || *value < 0) {
            return fail("chaos item '" + std::string(item) + "' needs a number of 0 or more");
        }
        if (name == "stall-seconds") {
            plan.stallSeconds_ = *value;
            continue;
        }
        bool known = false;
        for (std::size_t i = 0; i < std::size(names); ++i) {
            if (name == names[i]) {
                *shares[i] = *value;
                known = true;
            }
        }
        if (!known) {
            return fail("unknown chaos fault '" + std::string(name) +
                        "' (known: stall, stall-seconds, reset, 503, 401, 429, json)");
        }
    }
    for (double* share : shares) {
        total += *share;
        *share = total;
    }
    if (total > 1.0 + 1e-9) {
        return fail("chaos probabilities add up to more than 1");
    }
    return plan;
}

ChaosFault ChaosPlan::pick() {
    double draw = 0;
    {
        std::lock_guard lock(mutex_);
        draw = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
    }
    const std::pair<double, ChaosFault> table[] = {
        {stall_, ChaosFault::stall},
        {reset_, ChaosFault::reset},
        {unavailable_, ChaosFault::unavailable},
        {unauthorized_, ChaosFault::unauthorized},
        {rateLimited_, ChaosFault::rateLimited},
        {malformedJson_, ChaosFault::malformedJson},
    };
    for (const auto& [threshold, fault] : table) {
        if (draw < threshold) {
            return fault;
        }
    }
    return ChaosFault::none;
}

}  // namespace sayloft
