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
    EXPECT_EQ(received[1].remotePort, received[0].remotePort);  // one connection, reused
    for (const auto& r : received) {
        for (const char* absent : {"Accept", "Expect", "User-Agent", "Cookie"}) {
            EXPECT_EQ(r.headers.count(absent), 0u) << absent;
        }
    }
    EXPECT_EQ(received[1].headers.count("Content-Type"), 0u);
    EXPECT_EQ(received[1].headers.find("Content-Length")->second, "0");
}

TEST(CurlSession, ClassifiesFailuresWithoutAnAnswerAndStaysUsable) {
    LoopbackServer server([&](const httplib::Request& req, httplib::Response& res, std::size_t) {
        if (req.path == "/drop") {
            LoopbackServer::dropMidAnswer(res);
        } else if (req.path == "/late") {
            server.gate(0).wait();
            LoopbackServer::reply(res, 200, "late");
        } else if (req.path == "/stall") {  // a few body bytes, then nothing
            res.set_content_provider(100, "text/plain",
                                     [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         if (offset == 0) {
                                             return sink.write("first", 5);
                                         }
                                         server.gate(0).wait();
                                         return false;
                                     });
        } else {
            LoopbackServer::reply(res, 200, std::string(4096, 'x'));
        }
    });
    CurlSession session;
    CurlSession limited(CurlSession::Options{std::chrono::seconds(1), 1024});  // idle 1 s, 1 KiB
    const std::string here = "http://127.0.0.1:" + std::to_string(server.port());
    const struct {
        CurlSession* session;
        std::string url;
        std::chrono::milliseconds timeout;
        Code expected;
    } rows[] = {
        {&session, here + "/drop", 10s, Code::networkConnectionLost},
        {&session, "http://127.0.0.1:" + std::to_string(testing::unusedPort()), 10s,
         Code::cannotConnectToHost},
        {&session, "https" + here.substr(4), 10s, Code::secureConnectionFailed},  // to plain HTTP
        {&session, "file:///etc/passwd", 10s, Code::badURL},
        {&limited, here + "/big", 10s, Code::responseTooLarge},
        {&session, here + "/late", 200ms, Code::timedOut},  // the request's total time-out
        {&limited, here + "/stall", 60s, Code::timedOut},   // the session's idle time-out
    };
    for (const auto& row : rows) {
        HttpRequest request;
        request.url = row.url;
        request.timeout = row.timeout;
        EXPECT_EQ(failureOf(*row.session, request), row.expected) << row.url;
    }
    server.gate(0).open();
    EXPECT_EQ(session.perform(get(server, "late"), {}).body, "late");
}

// Closing a session also leaves no thread or descriptor of its own behind.
TEST(CurlSession, AStopRequestOrClosingTheSessionCancelsWhatRuns) {
    const std::size_t threads = testing::threadCount();
    const std::size_t descriptors = testing::openDescriptorCount();
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
    EXPECT_EQ(testing::threadCount(), threads);
    EXPECT_EQ(testing::openDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace sayloft
