// What one client can make the running sayloft-server hold: each limit of the HTTP layer in a
// small form, against the real binary, and the service answering others meanwhile.

#include <gtest/gtest.h>
#include <signal.h>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "core/net/CurlSession.h"

namespace sayloft::test {
namespace {

bool servesHealth(int port, const char* from = nullptr) {
    RawConnection c(port, from);
    return c.send("GET /health HTTP/1.1\r\nHost: x\r\n\r\n") &&
           statusOf(c.readResponse(10000)) == 200;
}

std::string uploadHead(const std::string& token, const std::string& framing) {
    const auto b = TestForms::newBoundary();
    return "POST /v1/transcribe HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
           "\r\nContent-Type: " + TestForms::contentType(b) + "\r\n" + framing + "\r\n";
}

class HttpLimits : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        upstream_ = new FakeUpstream();
        server_ = new ServerProcess({"--upstream", upstream_->url(), "--max-body-bytes", "65536",
                                     "--max-header-bytes", "8192", "--header-timeout", "1",
                                     "--body-grace", "1", "--min-body-rate", "100000"});
        ASSERT_TRUE(server_->started()) << server_->output();
    }
    static void TearDownTestSuite() {
        delete server_;
        delete upstream_;
    }
    static int port() { return server_->port(); }

    static FakeUpstream* upstream_;
    static ServerProcess* server_;
};
FakeUpstream* HttpLimits::upstream_ = nullptr;
ServerProcess* HttpLimits::server_ = nullptr;

TEST_F(HttpLimits, HeadersAndBodiesAreRefusedByTheirSizeAndCoding) {
    const auto token = registerToken(port());
    std::string manyHeaders = "GET /health HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 200; ++i) {  // 200 headers of 60 bytes: beyond 8 KiB
        manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(45, 'a') + "\r\n";
    }
    struct Case {
        const char* what;
        std::string request;  // never the whole body: the answer must not wait for it
        int status;
    };
    const Case cases[] = {
        {"headers beyond the connection's memory", manyHeaders + "\r\n", 431},
        {"chunked beyond the limit",
         uploadHead(token, "Transfer-Encoding: chunked\r\n") + "11000\r\n" +
             std::string(0x11000, 'x') + "\r\n",
         413},
        {"declared beyond the limit", uploadHead(token, "Content-Length: 70000\r\n") + "--", 413},
        {"compressed",
         uploadHead(token, "Content-Encoding: gzip\r\nContent-Length: 10\r\n") + "0123456789", 415},
    };
    for (const auto& k : cases) {
        RawConnection raw(port());
        raw.send(k.request);
        EXPECT_EQ(statusOf(raw.readResponse(10000)), k.status) << k.what;
    }
    EXPECT_TRUE(servesHealth(port()));
}

TEST_F(HttpLimits, SlowHeadersAndSlowBodiesAreCut) {
    const auto token = registerToken(port());
    struct Case {
        const char* what;
        std::string start;  // then one byte at a time, each when the server has not closed
        char trickle;
    };
    const Case cases[] = {
        {"headers", "GET /health HTTP/1.1\r\nHost: x\r\nX-Slow: ", 'a'},
        {"body", uploadHead(token, "Content-Length: 60000\r\n"), 'b'},
    };
    for (const auto& k : cases) {
        RawConnection raw(port());
        ASSERT_TRUE(raw.send(k.start)) << k.what;
        bool closed = false;
        // Each step waits for the close as an event; the bound is far beyond the 1 s deadline.
        for (int step = 0; step < 300 && !closed; ++step) {
            closed = !raw.send(std::string(1, k.trickle)) || raw.waitForClose(100);
        }
        EXPECT_TRUE(closed) << k.what;
    }
    EXPECT_TRUE(servesHealth(port()));
}

TEST_F(HttpLimits, PipelinedRequestsAreAnsweredInOrder) {
    RawConnection raw(port());
    raw.send(
        "GET /health HTTP/1.1\r\nHost: x\r\n\r\nGET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n"
        "POST /v1/crash HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(statusOf(raw.readResponse(10000)), 200);
    EXPECT_EQ(statusOf(raw.readResponse(10000)), 404);
    EXPECT_EQ(statusOf(raw.readResponse(10000)), 401);
}

TEST_F(HttpLimits, AClientStillSendingAfterAnEarlyAnswerIsNotReset) {
    RawConnection raw(port());
    raw.send(uploadHead("x", "Content-Length: 8388608\r\n"));
    EXPECT_EQ(statusOf(raw.readResponse(10000)), 413);
    // Closed at once, the socket would answer these bytes with a reset and fail the client's
    // write before it reads the answer; the lingering close reads and drops them.
    EXPECT_TRUE(raw.send(std::string(4 * 1024 * 1024, 'x')));
    EXPECT_TRUE(raw.waitForClose(10000));
}

TEST_F(HttpLimits, LibcurlReadsTheEarlyAnswerToABodyItIsStillSending) {
    CurlSession curl;
    const auto token = registerToken(port());
    struct Case {
        const char* what;
        std::string authorization;
        std::size_t bodyBytes;
        long status;
    };
    const Case cases[] = {
        {"too large", "Bearer " + token, 8 * 1024 * 1024, 413},
        {"bad token, read and dropped", "Bearer nonsense", 60000, 401},
    };
    for (const auto& k : cases) {
        for (int round = 0; round < 5; ++round) {
            HttpRequest request;
            request.method = "POST";
            request.url = "http://127.0.0.1:" + std::to_string(port()) + "/v1/transcribe";
            request.headers = {{"Authorization", k.authorization},
                               {"Content-Type", TestForms::contentType("b")}};
            request.body.assign(k.bodyBytes, 'x');
            EXPECT_EQ(curl.perform(request, {}).status, k.status) << k.what << " " << round;
        }
    }
}

TEST(HttpConnections, OneAddressCannotTakeEveryConnection) {
    FakeUpstream upstream;
    ServerProcess server({"--upstream", upstream.url(), "--per-address-connections", "2"});
    ASSERT_TRUE(server.started()) << server.output();
    RawConnection first(server.port(), "127.0.0.2");
    RawConnection second(server.port(), "127.0.0.2");
    ASSERT_TRUE(servesHealth(server.port()));  // both are accepted by now (in order)
    RawConnection third(server.port(), "127.0.0.2");
    EXPECT_TRUE(third.waitForClose(10000));
    EXPECT_TRUE(servesHealth(server.port()));
}

TEST(HttpConnections, TheStopClosesWhatOutlastsTheDrainTime) {
    FakeUpstream upstream;
    ServerProcess server({"--upstream", upstream.url(), "--chaos", "stall=1,stall-seconds=600",
                          "--drain-seconds", "1"});
    ASSERT_TRUE(server.started());
    RawConnection stalled(server.port());
    ASSERT_TRUE(stalled.send("POST /v1/register HTTP/1.1\r\nHost: x\r\n\r\n"));
    server.signal(SIGTERM);
    EXPECT_EQ(stalled.readResponse(30000), "");  // closed without an answer
    EXPECT_EQ(server.wait(std::chrono::seconds(30)), 0) << server.output();
}

}  // namespace
}  // namespace sayloft::test
