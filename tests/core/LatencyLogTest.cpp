#include <chrono>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/diagnostics/LatencyLog.h"

namespace sayloft {
namespace {

using std::chrono::system_clock;

// 2026-12-05T12:15:24.900Z: the fraction must be cut, not rounded.
const system_clock::time_point fixedNow =
    system_clock::time_point(std::chrono::milliseconds(1796472924900));

TEST(LatencyLog, FirstCallCreatesTheFolderAndOneLineThenAppends) {
    test::TempHome home;
    const auto file = LatencyLog::defaultLocation(home.path() / "state");
    LatencyLog log(file, [] { return fixedNow; });
    log.record(3.2, 1234);
    EXPECT_EQ(test::readAll(file), "2026-12-05T12:15:24Z\taudio=3.2s\ttotal=1234ms\n");
    log.record(0.04, 0);
    EXPECT_EQ(test::readAll(file),
              "2026-12-05T12:15:24Z\taudio=3.2s\ttotal=1234ms\n"
              "2026-12-05T12:15:24Z\taudio=0.0s\ttotal=0ms\n");
}

TEST(LatencyLog, Fields) {
    struct Case {
        double audio;
        std::int64_t total;
        const char* expected;
    };
    for (const Case& c :
         {Case{2.26, 1, "audio=2.3s\ttotal=1ms"}, Case{0.04, 0, "audio=0.0s\ttotal=0ms"},
          Case{61.0, 70000, "audio=61.0s\ttotal=70000ms"},
          Case{0.25, -5, "audio=0.2s\ttotal=-5ms"}}) {
        const auto line = LatencyLog::formatLine(fixedNow, c.audio, c.total);
        EXPECT_EQ(line, std::string("2026-12-05T12:15:24Z\t") + c.expected + "\n");
    }
}

TEST(LatencyLog, AFolderInPlaceOfTheFileIsQuietlyIgnored) {
    test::TempHome home;
    const auto file = home.path() / "latency.log";
    std::filesystem::create_directories(file);
    LatencyLog log(file, [] { return fixedNow; });
    log.record(1.0, 1);  // must neither throw nor crash
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_TRUE(std::filesystem::is_empty(file));

    log.setLogURL(home.path() / "elsewhere.log");
    log.record(1.0, 2);
    EXPECT_EQ(test::readAll(home.path() / "elsewhere.log"),
              "2026-12-05T12:15:24Z\taudio=1.0s\ttotal=2ms\n");
}

}  // namespace
}  // namespace sayloft
