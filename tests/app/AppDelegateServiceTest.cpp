// The dictation session against the real service client and a real HTTP server on loopback,
// with real worker threads: the hand-off from the transcription thread to the main loop is what
// the thread sanitizer build checks here.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "AppHarness.h"
#include "LoopbackServer.h"
#include "app/APIClientService.h"
#include "app/ThreadBackgroundTasks.h"
#include "app/WorkerQueue.h"
#include "core/net/APIClient.h"

namespace sayloft::test {
namespace {

using sayloft::testing::LoopbackServer;

// Runs the main loop until the session is idle again (real time, bounded).
bool waitUntilIdle(AppHarness& h) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (h.app->busy()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        h.loop.waitForPosted(std::chrono::milliseconds(200));
    }
    h.settle();
    return true;
}

TEST(AppDelegateWithRealClient, TranscribesAndInsertsThroughTheMainLoop) {
    LoopbackServer server([](const httplib::Request& req, httplib::Response& res, std::size_t) {
        if (req.path == "/v1/transcribe") {
            LoopbackServer::reply(res, 200, R"({"text":" from the server ","duration":1.0})");
        } else {
            LoopbackServer::reply(res, 200, "{}");
        }
    });
    APIClient client(server.url());
    APIClientService service(client);
    ThreadBackgroundTasks tasks;
    {
        AppHarness h(service, tasks);
        h.launch();
        for (int round = 0; round < 3; ++round) {
            h.dictate(1.0);
            h.loop.advance(60.0);  // a keep-alive tick: no ping while busy
            ASSERT_TRUE(waitUntilIdle(h));
            EXPECT_EQ(h.pasteboard.text, "from the server");
            EXPECT_EQ(h.item.icon, "mic");
        }
        EXPECT_TRUE(h.notifications.posted.empty());
        EXPECT_FALSE(h.latencyLogText().empty());
    }
    std::size_t transcriptions = 0;
    for (const auto& request : server.requests()) {
        if (request.path == "/v1/transcribe") {
            ++transcriptions;
            EXPECT_EQ(request.headers.find("Authorization")->second, "Bearer device-token");
        }
    }
    EXPECT_EQ(transcriptions, 3u);
}

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
