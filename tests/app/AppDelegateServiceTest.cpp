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

}  // namespace
}  // namespace sayloft::test
