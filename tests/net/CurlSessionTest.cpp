#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "core/net/CurlSession.h"
#include "core/net/TransportError.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackServer;
using Code = TransportError::Code;

HttpRequest get(const LoopbackServer& server, std::string path = "health") {
    HttpRequest request;
    request.url = server.url().appending(path);
    request.timeout = 10s;
    return request;
}

Code failureOf(CurlSession& session, const HttpRequest& request, std::stop_token stop = {}) {
    try {
        session.perform(request, stop);
    } catch (const TransportError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no transport error";
    return Code::unknown;
}

TEST(CurlSession, SendsOnlyTheRequestsHeadersAndExactBody) {
    LoopbackServer server([](const auto&, auto& res, std::size_t index) {
        if (index == 0) {
            res.set_header("server-timing", "recognize;dur=12.5");
        }
        LoopbackServer::reply(res, 201, "answer");
    });
    CurlSession session;
    HttpRequest request = get(server, "v1/x");
    request.method = "POST";
    request.headers = {{"Authorization", "Bearer x"}, {"Content-Type", "text/plain"}};
    request.body = std::string(3 * 1024 * 1024, '\0');  // large enough for libcurl's Expect
    const HttpResponse response = session.perform(request, {});
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, "answer");
    EXPECT_EQ(response.serverTiming, "recognize;dur=12.5");  // the one header kept

    HttpRequest bare = get(server, "v1/register");
    bare.method = "POST";
    EXPECT_EQ(session.perform(bare, {}).serverTiming, "");

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].path, "/v1/x");
    EXPECT_EQ(received[0].body, request.body);
    EXPECT_EQ(received[0].headers.find("Authorization")->second, "Bearer x");
    for (const auto& r : received) {
        for (const char* absent : {"Accept", "Expect", "User-Agent", "Cookie"}) {
            EXPECT_EQ(r.headers.count(absent), 0u) << absent;
        }
    }
    EXPECT_EQ(received[1].headers.count("Content-Type"), 0u);
    EXPECT_EQ(received[1].headers.find("Content-Length")->second, "0");
}

TEST(CurlSession, ClassifiesFailuresWithoutAnAnswer) {
    LoopbackServer server(
        [](const auto&, auto& res, std::size_t) { LoopbackServer::dropMidAnswer(res); });
    CurlSession session;
    EXPECT_EQ(failureOf(session, get(server)), Code::networkConnectionLost);

    HttpRequest refused;
    refused.url = "http://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/health";
    EXPECT_EQ(failureOf(session, refused), Code::cannotConnectToHost);

    // TLS spoken to a plain HTTP server: the handshake fails, verification stays on.
    HttpRequest tls = get(server);
    tls.url = "https://127.0.0.1:" + std::to_string(server.port()) + "/health";
    EXPECT_EQ(failureOf(session, tls), Code::secureConnectionFailed);

    HttpRequest otherScheme = get(server);
    otherScheme.url = "file:///etc/passwd";
    EXPECT_EQ(failureOf(session, otherScheme), Code::badURL);
}

TEST(CurlSession, HonoursTheRequestsTotalTimeoutAndStaysUsable) {
    LoopbackServer server([&](const auto&, auto& res, std::size_t index) {
        if (index == 0) {
            server.gate(0).wait();
        }
        LoopbackServer::reply(res, 200, "late");
    });
    CurlSession session;
    HttpRequest request = get(server);
    request.timeout = 200ms;
    EXPECT_EQ(failureOf(session, request), Code::timedOut);
    server.gate(0).open();
    EXPECT_EQ(session.perform(get(server), {}).body, "late");
}

// A session with a 1-second idle limit and answers of at most 1 KiB.
TEST(CurlSession, RefusesALargerAnswerAndHonoursTheIdleTimeoutWhileABodyStalls) {
    testing::Gate* stall = nullptr;
    LoopbackServer server([&](const auto&, auto& res, std::size_t index) {
        if (index == 0) {
            LoopbackServer::reply(res, 200, std::string(4096, 'x'));
            return;
        }
        res.status = 200;
        res.set_content_provider(100, "text/plain",
                                 [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         sink.write("first", 5);
                                         return true;
                                     }
                                     stall->wait();
                                     return false;
                                 });
    });
    stall = &server.gate(0);
    CurlSession session(CurlSession::Options{std::chrono::seconds(1), 1024});
    EXPECT_EQ(failureOf(session, get(server)), Code::responseTooLarge);
    HttpRequest request = get(server);
    request.timeout = 60s;
    EXPECT_EQ(failureOf(session, request), Code::timedOut);
}

TEST(CurlSession, AStopRequestOrClosingTheSessionCancelsWhatRuns) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close);
        LoopbackServer server([&](const auto&, auto& res, std::size_t) {
            server.gate(0).wait();
            LoopbackServer::reply(res, 200, "{}");
        });
        auto session = std::make_unique<CurlSession>();
        std::stop_source stop;
        auto outcome = std::async(
            std::launch::async, [&] { return failureOf(*session, get(server), stop.get_token()); });
        server.waitForRequests(1);
        std::thread closer([&] { close ? session.reset() : (void)stop.request_stop(); });
        EXPECT_EQ(outcome.get(), Code::cancelled);
        closer.join();
    }
}

}  // namespace
}  // namespace sayloft
