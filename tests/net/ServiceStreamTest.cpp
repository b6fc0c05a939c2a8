#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "ChunkedUploadServer.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/RequestCancelled.h"
#include "core/net/ServiceStream.h"
#include "core/net/StreamFailed.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using testing::ChunkedUploadServer;
using When = ChunkedUploadServer::When;

const std::vector<std::int16_t> samples = {1, -2, 0x1234};
const std::string samplesOnTheWire("\x00\x01\xff\xfe\x12\x34", 6);  // big-endian

std::filesystem::path socketPath() {
    return std::filesystem::temp_directory_path() /
           ("sayloft-stream-test-" + std::to_string(::getpid()) + ".sock");
}

APIClient clientFor(const ChunkedUploadServer& server) {
    return APIClient(ServiceEndpoint{server.url(), server.unixSocket()});
}

// The failure of finish(), or nullopt when it returned a transcript.
std::optional<StreamFailed> failureOf(TranscriptionStream& stream, std::stop_token stop = {}) {
    try {
        stream.finish(stop);
    } catch (const StreamFailed& failed) {
        return failed;
    }
    return std::nullopt;
}

TEST(ServiceStream, SendsBigEndianChunksWhileAppendingAndReturnsTheTranscript) {
    for (const bool viaSocket : {false, true}) {
        SCOPED_TRACE(viaSocket);
        ChunkedUploadServer server({}, viaSocket ? socketPath() : std::filesystem::path{});
        const auto stream = clientFor(server).openStream("tok");
        server.waitForBody(0);  // the head: the upload now waits on an empty pipe
        stream->append(samples);
        const auto early = server.waitForBody(samplesOnTheWire.size());
        EXPECT_EQ(early.body, samplesOnTheWire);  // before the end was sent
        EXPECT_FALSE(early.ended);
        stream->append(samples);
        const TranscribeResult result = stream->finish({});
        EXPECT_EQ(result.text, "hello");
        EXPECT_EQ(result.duration, 1.5);

        const auto upload = server.waitForEnd();
        EXPECT_TRUE(upload.finalChunk);
        EXPECT_EQ(upload.body, samplesOnTheWire + samplesOnTheWire);
        for (const char* line :
             {"POST /v1/stream HTTP/1.1\r\n", "\r\nAuthorization: Bearer tok\r\n",
              "\r\nContent-Type: audio/L16; rate=16000; channels=1\r\n",
              "\r\nTransfer-Encoding: chunked\r\n"}) {
            EXPECT_NE(upload.head.find(line), std::string::npos) << line << upload.head;
        }
        EXPECT_EQ(upload.head.find("Expect"), std::string::npos);
        stream->append(samples);  // ignored after finish
    }
}

TEST(ServiceStream, TheAnswerDecidesWheneverItComes) {
    struct Case {
        ChunkedUploadServer::Script script;
        bool succeeds;
        bool notOffered;
    };
    const std::string transcript = R"({"text":"hello","duration":1.5})";
    const Case cases[] = {
        {{When::afterEnd, 0, 200, R"({"text":1,"duration":1})"}, false, false},
        {{When::afterEnd, 0, 200, "not json"}, false, false},
        {{When::atHead, 0, 404, "{}"}, false, true},
        {{When::atHead, 0, 405, "{}"}, false, true},
        {{When::atHead, 0, 415, "{}"}, false, true},
        {{When::atHead, 0, 501, "{}"}, false, true},
        {{When::atHead, 0, 401, "{}"}, false, false},
        {{When::atHead, 0, 429, "{}"}, false, false},
        {{When::atHead, 0, 503, "{}"}, false, false},
        {{When::afterEnd, 0, 500, "{}"}, false, false},
        {{When::afterBytes, 2, 413, "{}"}, false, false},
        {{When::afterBytes, 2, 200, transcript}, true, false},  // early, during the upload
        {{When::afterBytes, 2, 200, "", true}, false, false},   // reset mid-stream
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.script.status) + " " + c.script.body);
        ChunkedUploadServer server(c.script);
        const auto stream = clientFor(server).openStream("tok");
        stream->append(samples);
        if (c.script.when == When::afterBytes) {
            server.waitForBody(c.script.afterBytes);
        }
        stream->append(samples);
        const auto failed = failureOf(*stream);
        EXPECT_EQ(!failed, c.succeeds);
        EXPECT_EQ(failed && failed->notOffered, c.notOffered);
    }
}

TEST(ServiceStream, FailsWhenNothingMovesForTheStallLimitAfterTheEnd) {
    ChunkedUploadServer server({When::never});
    // a stall limit short enough to wait for
    const auto stream = std::make_unique<ServiceStream>(clientFor(server).streamRequest("tok"),
                                                        std::make_unique<CurlSession>(), 200ms);
    stream->append(samples);
    const auto failed = failureOf(*stream);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->notOffered);
    EXPECT_TRUE(server.waitForEnd().finalChunk);
}

TEST(ServiceStream, CancelAndDestructionCloseTheConnectionBeforeTheEnd) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy);
        ChunkedUploadServer server({When::never});
        auto stream = clientFor(server).openStream("tok");
        stream->append(samples);
        server.waitForBody(samplesOnTheWire.size());
        if (destroy) {
            stream.reset();
        } else {
            stream->cancel();
            stream->cancel();
        }
        const auto upload = server.waitForEnd();
        EXPECT_TRUE(upload.ended);
        EXPECT_FALSE(upload.finalChunk);
        if (!destroy) {
            EXPECT_TRUE(failureOf(*stream));
        }
    }
}

TEST(ServiceStream, AStopRequestEndsTheWaitWithRequestCancelled) {
    ChunkedUploadServer server({When::never});
    const auto stream = clientFor(server).openStream("tok");
    std::stop_source stop;
    std::jthread stopper([&] {
        server.waitForEnd();
        stop.request_stop();
    });
    EXPECT_THROW(stream->finish(stop.get_token()), RequestCancelled);
}

}  // namespace
}  // namespace sayloft
