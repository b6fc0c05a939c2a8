#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "app/WorkerQueue.h"
#include "core/diagnostics/LatencyLog.h"

namespace sayloft::test {
namespace {

// The application writes its latency line through a WorkerQueue: off the main thread, in the
// order of the dictations, and at quit nothing posted may be lost.
TEST(WorkerQueue, WritesInOrderAndFinishesEverythingPostedBeforeItIsDestroyed) {
    TempHome home;
    const auto file = home.path() / "state" / "latency.log";
    const auto fixedNow = std::chrono::system_clock::time_point(std::chrono::seconds(1796472924));
    const LatencyLog log(file, [fixedNow] { return fixedNow; });
    constexpr int lines = 200;
    std::string expected;
    {
        WorkerQueue queue;
        for (int i = 0; i < lines; ++i) {
            queue.post([&log, i] { log.record(1.0, i); });
            expected += LatencyLog::formatLine(fixedNow, 1.0, i);
        }
    }  // destroyed right after the last post, as at quit
    EXPECT_EQ(readAll(file), expected);
}

}  // namespace
}  // namespace sayloft::test
