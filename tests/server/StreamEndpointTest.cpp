// POST /v1/stream on the running sayloft-server with the built-in recogniser: what is refused on
// the headers alone, the stream decoders' share, a cancelled stream, and the limits on a stream's
// audio and wall time. RecognitionQualityTest compares its words with the upload's.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"

namespace sayloft::test {
namespace {

using nlohmann::json;

// A second of a tone as audio/L16 bytes.
std::string toneBytes(double seconds) {
    const auto wav = TestForms::wav16(TestForms::tone(seconds), 16000);
    return StreamingClient::bigEndian(std::string_view(wav).substr(44));
}

std::string header(const std::string& raw, const std::string& name) {
    const auto at = raw.find("\r\n" + name + ": ");
    return at == std::string::npos
               ? ""
               : raw.substr(at + name.size() + 4, raw.find("\r\n", at + 2) - at - name.size() - 4);
}

class StreamEndpoint : public ::testing::Test {
protected:
    // One stream decoder; streams hold at most 3 s of audio (1 + 2) for 3 s of wall time, far
    // within the body pace's grace (so only the stream's own deadline can cut one).
    static void SetUpTestSuite() {
        server_ = new ServerProcess({"--decoders", "1", "--stream-decoders", "1",
                                     "--max-audio-seconds", "1", "--max-stream-seconds", "3",
                                     "--body-grace", "60", "--rate-burst", "1000"});
        ASSERT_TRUE(server_->started()) << server_->output();
        token_ = registerToken(server_->port());
    }
    static void TearDownTestSuite() { delete server_; }

    static ServerProcess* server_;
    static std::string token_;
};
ServerProcess* StreamEndpoint::server_ = nullptr;
std::string StreamEndpoint::token_;

TEST_F(StreamEndpoint, RefusalsOnTheHeadersComeBeforeAnyAudio) {
    FakeUpstream upstream;
    ServerProcess upstreamOnly(
        {"--upstream", upstream.url(), "--rate-burst", "2", "--rate-per-minute", "1"});
    ASSERT_TRUE(upstreamOnly.started());
    const std::string limited = registerToken(upstreamOnly.port());
    struct Case {
        const char* what;
        const ServerProcess& server;
        std::string token, contentType, method;
        int status;
    };
    const Case cases[] = {
        {"not POST", *server_, token_, StreamingClient::l16, "PUT", 405},
        {"no token", *server_, "", StreamingClient::l16, "POST", 401},
        {"8 kHz", *server_, token_, "audio/L16; rate=8000; channels=1", "POST", 415},
        {"a form", *server_, token_, "multipart/form-data; boundary=x", "POST", 415},
        {"an upstream recogniser", upstreamOnly, limited, StreamingClient::l16, "POST", 404},
        {"streaming off again", upstreamOnly, limited, StreamingClient::l16, "POST", 404},
        {"the token's rate", upstreamOnly, limited, StreamingClient::l16, "POST", 429},
    };
    for (const auto& k : cases) {
        StreamingClient client(k.server.port(), k.token, k.contentType, k.method);
        const auto raw = client.connection().readResponse(10'000);  // no body byte sent
        EXPECT_EQ(statusOf(raw), k.status) << k.what << "\n" << raw;
        if (k.status == 429) {
            EXPECT_FALSE(header(raw, "Retry-After").empty()) << raw;
        }
        if (k.status == 404) {
            EXPECT_NE(raw.find(R"({"error":"this service does not stream"})"), std::string::npos);
        }
    }
}

TEST_F(StreamEndpoint, ATakenStreamShareRefusesTheNextButNotAnUploadUntilFinishedOrCancelled) {
    StreamingClient first(server_->port(), token_);
    ASSERT_TRUE(first.send(toneBytes(0.5), 3200));
    StreamingClient second(server_->port(), token_);
    const auto refused = second.connection().readResponse(10'000);
    EXPECT_EQ(statusOf(refused), 503) << refused;
    EXPECT_EQ(header(refused, "Retry-After"), "1");

    httplib::Client c("127.0.0.1", server_->port());
    const auto b = TestForms::newBoundary();
    const auto upload =
        c.Post("/v1/transcribe", {{"Authorization", "Bearer " + token_}},
               TestForms::transcribeBody(b, TestForms::wav16(TestForms::tone(0.5), 16000)),
               TestForms::contentType(b).c_str());
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->status, 200) << upload->body;

    const auto answer = first.finish();
    ASSERT_EQ(statusOf(answer), 200) << answer;
    EXPECT_TRUE(header(answer, "Server-Timing").starts_with("recognize;dur="));
    EXPECT_DOUBLE_EQ(json::parse(bodyOf(answer))["duration"], 0.5);

    // A cancelled stream is logged and frees its decoder at once.
    {
        StreamingClient cancelled(server_->port(), token_);
        ASSERT_TRUE(cancelled.send(toneBytes(0.5), 3200));
    }
    ASSERT_TRUE(server_->waitForLine("POST /v1/stream 499", std::chrono::seconds(20)))
        << server_->output();
    StreamingClient next(server_->port(), token_);
    ASSERT_TRUE(next.send(toneBytes(0.2), 3200));
    EXPECT_EQ(statusOf(next.finish()), 200);
}

TEST_F(StreamEndpoint, AudioAndWallTimeAreBounded) {
    // More audio than the cap (1 + 2 s) is refused while it comes.
    StreamingClient tooLong(server_->port(), token_);
    tooLong.send(toneBytes(3.1), 3200);  // may fail once the service refused
    const auto raw = tooLong.connection().readResponse(20'000);
    EXPECT_EQ(statusOf(raw), 413) << raw;
    // A stream that never ends is cut at its wall time.
    StreamingClient endless(server_->port(), token_);
    ASSERT_TRUE(endless.send(toneBytes(0.1), 3200));
    EXPECT_TRUE(endless.connection().waitForClose(30'000));
    EXPECT_TRUE(server_->waitForLine("POST /v1/stream 408", std::chrono::seconds(5)));
}

}  // namespace
}  // namespace sayloft::test
