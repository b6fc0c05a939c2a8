#include <gtest/gtest.h>

#include "server/ConnectionDeadlines.h"

namespace sayloft {
namespace {

using Stage = ConnectionDeadlines::Stage;
using Verdict = ConnectionDeadlines::Verdict;
using std::chrono::milliseconds;

TEST(ConnectionDeadlines, EachStageHasItsOwnLimit) {
    const ConnectionDeadlines::Limits limits;  // 10 s head, 10 s grace at 4096 B/s, 65 s / 5 s idle
    const auto t0 = ConnectionDeadlines::Clock::time_point{} + std::chrono::hours(1);
    struct Case {
        const char* what;
        Stage stage;
        milliseconds elapsed;
        std::uint64_t bodyBytes;
        bool busy;
        bool stopping;
        milliseconds requestDeadline;  // the route's own, from the headers
        Verdict verdict;
    };
    const milliseconds none{0}, stream{65'000};
    const Case cases[] = {
        {"idle past keep-alive", Stage::waiting, milliseconds(65'001), 0, false, false, none,
         Verdict::idle},
        {"idle while busy", Stage::waiting, milliseconds(5'001), 0, true, false, none,
         Verdict::idle},
        {"idle at a stop", Stage::waiting, milliseconds(0), 0, false, true, none,
         Verdict::stopping},
        {"headers past it, however busy they look", Stage::head, milliseconds(10'001), 0, false,
         false, none, Verdict::headTooSlow},
        {"headers at a stop finish", Stage::head, milliseconds(1), 0, false, true, none,
         Verdict::keep},
        {"body at the minimum rate", Stage::body, milliseconds(20'000), 20 * 4096, false, false,
         none, Verdict::keep},
        {"body under it after the grace", Stage::body, milliseconds(20'000), 20 * 4096 - 1, false,
         false, none, Verdict::bodyTooSlow},
        {"live 16 kHz audio for 60 s", Stage::body, milliseconds(60'000), 60 * 32'000, false, false,
         none, Verdict::keep},
        {"a stream past it, however fast", Stage::body, milliseconds(65'001), 65 * 32'000, false,
         false, stream, Verdict::requestTooLong},
        {"a stream too slow within it", Stage::body, milliseconds(20'000), 20 * 4096 - 1, false,
         false, stream, Verdict::bodyTooSlow},
        {"working takes its time", Stage::working, milliseconds(3'600'000), 0, true, true, none,
         Verdict::keep},
    };
    for (const auto& k : cases) {
        const ConnectionDeadlines::Observation seen{k.stage, t0, k.bodyBytes, k.requestDeadline};
        EXPECT_EQ(ConnectionDeadlines::judge(seen, t0 + k.elapsed, limits, k.busy, k.stopping),
                  k.verdict)
            << k.what;
    }
}

}  // namespace
}  // namespace sayloft
