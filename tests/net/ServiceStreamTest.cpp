#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LoopbackServer.h"
#include "core/config/Url.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/RequestBodyPipe.h"
#include "core/net/RequestCancelled.h"
#include "core/net/ServiceStream.h"
#include "core/net/StreamFailed.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;

// A server on a raw socket for streamed uploads, where LoopbackServer's library cannot go (an
// answer in the middle of a body, a reset): it accepts one connection, decodes the chunked body
// as it arrives and answers as scripted.
class ChunkedUploadServer {
public:
    struct Script {
        std::size_t answerAt = std::string::npos;  // the body bytes to wait for (npos: the end)
        int status = 200;                          // 0: never answers
        std::string body = R"({"text":"hello","duration":1.5})";
        bool reset = false;  // at the answer's moment, drops the connection with a reset instead
    };
    // What the client sent so far.
    struct Upload {
        std::string head;
        std::string body;
        bool finalChunk = false;
        bool ended = false;  // the final chunk came or the connection closed
    };

    explicit ChunkedUploadServer(Script script)
        : script_(std::move(script)), listener_(testing::listenOnLoopback(port_)) {
        thread_ = std::thread([this] {
            if (const int connection = ::accept(listener_, nullptr, nullptr); connection >= 0) {
                serve(connection);
                ::close(connection);
            }
            std::lock_guard lock(mutex_);
            upload_.ended = true;
            changed_.notify_all();
        });
    }
    // Waits for the client, which every test destroys first, to close its connection.
    ~ChunkedUploadServer() {
        ::shutdown(listener_, SHUT_RDWR);  // ends a pending accept
        thread_.join();
        ::close(listener_);
    }

    Url url() const { return *Url::parse("http://127.0.0.1:" + std::to_string(port_)); }

    // What arrived once the head and n body bytes did or the upload ended (bounded: 10 s).
    Upload waitForBody(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return upload_.ended || (!upload_.head.empty() && upload_.body.size() >= n);
        });
        return upload_;
    }
    Upload waitForEnd() { return waitForBody(std::string::npos); }

private:
    // The body decoded from the complete chunks in bytes; final: whether the last chunk came.
    static std::string decodeChunks(std::string_view bytes, bool& final) {
        std::string body;
        final = false;
        for (;;) {
            const auto lineEnd = bytes.find("\r\n");
            if (lineEnd == std::string_view::npos) {
                return body;
            }
            const std::size_t size = std::stoul(std::string(bytes.substr(0, lineEnd)), nullptr, 16);
            if (bytes.size() < lineEnd + size + 4 || (final = size == 0)) {
                return body;
            }
            body.append(bytes.substr(lineEnd + 2, size));
            bytes.remove_prefix(lineEnd + size + 4);
        }
    }

    // Decodes what arrived after every read, answers once the script's moment came, and keeps
    // the connection until the client closes it (or the server stops).
    void serve(int connection) {
        std::string inbox;
        bool answered = false;
        for (;;) {
            bool due = false;
            if (const auto headEnd = inbox.find("\r\n\r\n"); headEnd != std::string::npos) {
                std::lock_guard lock(mutex_);
                upload_.head = inbox.substr(0, headEnd + 2);
                upload_.body =
                    decodeChunks(std::string_view(inbox).substr(headEnd + 4), upload_.finalChunk);
                upload_.ended = upload_.finalChunk;
                changed_.notify_all();
                due = script_.status != 0 &&
                      (upload_.finalChunk || upload_.body.size() >= script_.answerAt);
            }
            if (due && !answered) {
                answered = true;
                if (script_.reset) {  // closed by the caller
                    const linger abort{1, 0};
                    ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    return;
                }
                const std::string reply =
                    "HTTP/1.1 " + std::to_string(script_.status) +
                    " Scripted\r\nContent-Type: application/json\r\nContent-Length: " +
                    std::to_string(script_.body.size()) + "\r\n\r\n" + script_.body;
                ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            char buffer[4096];
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return;
            }
            inbox.append(buffer, static_cast<std::size_t>(got));
        }
    }

    Script script_;
    int port_ = 0;
    int listener_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Upload upload_;
    std::thread thread_;
};

const std::vector<std::int16_t> samples = {1, -2, 0x1234};
const std::string samplesOnTheWire("\x00\x01\xff\xfe\x12\x34", 6);  // big-endian

// The transcript finish() returned, or how it failed.
std::string outcomeOf(TranscriptionStream& stream, std::stop_token stop = {}) {
    try {
        return stream.finish(stop).text;
    } catch (const StreamFailed& failed) {
        return failed.notOffered ? "not offered" : "failed";
    } catch (const RequestCancelled&) {
        return "cancelled";
    }
}

TEST(ServiceStream, SendsBigEndianChunksWhileAppendingAndReturnsTheTranscript) {
    ChunkedUploadServer server({});
    const auto stream = APIClient(server.url()).openStream("tok");
    server.waitForBody(0);  // the head: the upload now waits on an empty pipe
    stream->append(samples);
    const auto early = server.waitForBody(samplesOnTheWire.size());
    EXPECT_EQ(early.body, samplesOnTheWire);  // before the end was sent
    EXPECT_FALSE(early.ended);
    stream->append(samples);
    EXPECT_EQ(stream->finish({}), (TranscribeResult{"hello", 1.5}));

    const auto upload = server.waitForEnd();
    EXPECT_TRUE(upload.finalChunk);
    EXPECT_EQ(upload.body, samplesOnTheWire + samplesOnTheWire);
    for (const char* line : {"POST /v1/stream HTTP/1.1\r\n", "\r\nAuthorization: Bearer tok\r\n",
                             "\r\nContent-Type: audio/L16; rate=16000; channels=1\r\n",
                             "\r\nTransfer-Encoding: chunked\r\n"}) {
        EXPECT_NE(upload.head.find(line), std::string::npos) << line << upload.head;
    }
    EXPECT_EQ(upload.head.find("Expect"), std::string::npos);
    stream->append(samples);  // ignored after finish
}

TEST(ServiceStream, TheAnswerDecidesWheneverItComes) {
    const std::size_t end = std::string::npos;
    const std::pair<ChunkedUploadServer::Script, std::string> rows[] = {
        {{end, 200, R"({"text":1,"duration":1})"}, "failed"},
        {{end, 200, "not json"}, "failed"},
        {{0, 404, "{}"}, "not offered"},
        {{0, 405, "{}"}, "not offered"},
        {{0, 415, "{}"}, "not offered"},
        {{0, 501, "{}"}, "not offered"},
        {{0, 401, "{}"}, "failed"},
        {{end, 500, "{}"}, "failed"},
        {{2, 413, "{}"}, "failed"},
        {{2}, "hello"},                  // early, during the upload
        {{2, 200, "", true}, "failed"},  // reset mid-stream
    };
    for (const auto& [script, expected] : rows) {
        SCOPED_TRACE(std::to_string(script.status) + " " + script.body);
        ChunkedUploadServer server(script);
        const auto stream = APIClient(server.url()).openStream("tok");
        stream->append(samples);
        server.waitForBody(std::min<std::size_t>(script.answerAt, 2));
        stream->append(samples);
        EXPECT_EQ(outcomeOf(*stream), expected);
    }
}

// A server that never answers: the stall limit after the end, cancel(), destruction or the
// caller's stop ends the stream; only finish() sends the final chunk.
TEST(ServiceStream, AStreamWithoutAnAnswerEnds) {
    for (const std::string how : {"stall", "cancel", "destroy", "stop"}) {
        SCOPED_TRACE(how);
        ChunkedUploadServer server({.status = 0});
        auto stream = std::make_unique<ServiceStream>(APIClient(server.url()).streamRequest("tok"),
                                                      std::make_unique<CurlSession>(),
                                                      how == "stall" ? 200ms : 60s);
        stream->append(samples);
        server.waitForBody(samplesOnTheWire.size());
        std::stop_source stop;
        std::jthread stopper;
        if (how == "cancel") {
            stream->cancel();
            stream->cancel();
        } else if (how == "destroy") {
            stream.reset();
        } else if (how == "stop") {
            stopper = std::jthread([&] {
                server.waitForEnd();
                stop.request_stop();
            });
        }
        if (stream) {
            EXPECT_EQ(outcomeOf(*stream, stop.get_token()), how == "stop" ? "cancelled" : "failed");
        }
        const auto upload = server.waitForEnd();
        EXPECT_TRUE(upload.ended);
        EXPECT_EQ(upload.finalChunk, how == "stall" || how == "stop");
    }
}

std::string takeAll(RequestBodyPipe& pipe, std::size_t step, bool& ended) {
    std::string taken;
    char buffer[8];
    for (;;) {
        const auto take = pipe.take(buffer, step);
        taken.append(buffer, take.bytes);
        ended = take.ended;
        if (take.bytes == 0) {
            return taken;
        }
    }
}

TEST(RequestBodyPipe, GivesWhatWasWrittenInOrderThenTheEndAndWakesItsReader) {
    RequestBodyPipe pipe;
    int wakeups = 0;
    pipe.setWakeup([&] { ++wakeups; });
    bool ended = true;
    EXPECT_FALSE(pipe.readable());
    EXPECT_EQ(takeAll(pipe, 8, ended), "");
    EXPECT_FALSE(ended);  // empty for now, not the end

    pipe.write("abcde");
    pipe.write("");
    EXPECT_TRUE(pipe.readable());
    EXPECT_EQ(takeAll(pipe, 2, ended), "abcde");
    pipe.write("fg");
    EXPECT_EQ(takeAll(pipe, 8, ended), "fg");
    EXPECT_FALSE(ended);
    EXPECT_EQ(wakeups, 2);

    pipe.write("h");
    pipe.close();
    pipe.close();
    pipe.write("ignored");
    EXPECT_TRUE(pipe.closed());
    EXPECT_EQ(wakeups, 4);
    pipe.setWakeup({});
    EXPECT_EQ(takeAll(pipe, 8, ended), "h");
    EXPECT_TRUE(ended);
    EXPECT_TRUE(pipe.readable());  // the end is still there to take
}

}  // namespace
}  // namespace sayloft
