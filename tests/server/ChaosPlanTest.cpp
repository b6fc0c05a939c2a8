#include <map>

#include <gtest/gtest.h>

#include "server/ChaosPlan.h"

namespace sayloft {
namespace {

TEST(ChaosPlan, RefusesMalformedLists) {
    const char* bad[] = {"stall",           "stall=-0.1", "boom=0.1",
                         "503=0.6,401=0.5", "stall=inf",  "reset=0.1,,"};
    for (const char* faults : bad) {
        std::string error;
        EXPECT_FALSE(ChaosPlan::parse(faults, 1, &error)) << faults;
        EXPECT_FALSE(error.empty()) << faults;
    }
}

TEST(ChaosPlan, DrawsEachFaultAboutAsOftenAsAsked) {
    auto plan = ChaosPlan::parse(
        "stall=0.1,stall-seconds=2.5,reset=0.1,503=0.2,401=0.05,429=0.05,json=0.1", 42, nullptr);
    ASSERT_TRUE(plan);
    EXPECT_DOUBLE_EQ(plan->stallSeconds(), 2.5);
    std::map<ChaosFault, int> seen;
    constexpr int draws = 20000;
    for (int i = 0; i < draws; ++i) {
        ++seen[plan->pick()];
    }
    const std::pair<ChaosFault, double> expected[] = {
        {ChaosFault::none, 0.4},          {ChaosFault::stall, 0.1},
        {ChaosFault::reset, 0.1},         {ChaosFault::unavailable, 0.2},
        {ChaosFault::unauthorized, 0.05}, {ChaosFault::rateLimited, 0.05},
        {ChaosFault::malformedJson, 0.1},
    };
    for (const auto& [fault, share] : expected) {
        EXPECT_NEAR(seen[fault] / static_cast<double>(draws), share, 0.015)
            << static_cast<int>(fault);
    }
}

TEST(ChaosPlan, TheSameSeedGivesTheSameSequence) {
    auto a = ChaosPlan::parse("503=0.5", 7, nullptr);
    auto b = ChaosPlan::parse("503=0.5", 7, nullptr);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(a->pick(), b->pick());
    }
    auto never = ChaosPlan::parse("", 7, nullptr);
    EXPECT_EQ(never->pick(), ChaosFault::none);
}

}  // namespace
}  // namespace sayloft
