#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>

#include "LoopbackServer.h"

namespace sayloft::test {

// A stand-in for an OpenAI-compatible transcription service: records what it received and
// answers as told. It can hold requests until released, to keep one in flight.
class FakeUpstream {
public:
    enum class Mode { answer, fail500, hold };

    FakeUpstream();
    ~FakeUpstream();

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void setMode(Mode mode);
    void release();  // lets held requests answer
    // True once `count` requests have arrived, false when they have not within the timeout.
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    int requests() const;
    std::string lastModel() const;
    std::string lastWav() const;

    static constexpr const char* text = "fake words from upstream";

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Mode mode_ = Mode::answer;
    bool released_ = false;
    int requests_ = 0;
    std::string model_, wav_;
};

// Talks HTTP/1.1 over a plain socket, for bodies sent in pieces and answers read by hand.
class RawConnection {
public:
    // from: the local address to connect from (another loopback address plays another client).
    explicit RawConnection(int port, const char* from = nullptr);
    ~RawConnection();
    bool send(const std::string& bytes);
    // Reads until a whole response (headers and Content-Length body) or EOF or the timeout; ""
    // when the connection was reset or closed without an answer. Bytes of a next (pipelined)
    // response are kept for the next call.
    std::string readResponse(int timeoutMs);
    // Reads and drops whatever comes until the server closes (true) or the timeout.
    bool waitForClose(int timeoutMs);

private:
    int fd_ = -1;
    std::string pending_;
};

// POST /v1/stream over its own RawConnection: the headers at once, then the body in chunks as
// the test sends them; closing it (destroying it) before finish() cancels the stream.
class StreamingClient {
public:
    static constexpr const char* l16 = "audio/L16; rate=16000; channels=1";

    StreamingClient(int port, const std::string& token, const std::string& contentType = l16,
                    const std::string& method = "POST");
    // Sends these body bytes as chunks of at most chunkBytes; false when the server closed.
    bool send(std::string_view bytes, std::size_t chunkBytes);
    // The final zero chunk, then the raw answer ("" when none came within the timeout).
    std::string finish(int timeoutMs = 120'000);
    RawConnection& connection() { return connection_; }

    // 16-bit little-endian samples (a WAV file's data) as audio/L16's big-endian bytes.
    static std::string bigEndian(std::string_view littleEndian);

private:
    RawConnection connection_;
};

// A loopback port that nothing listens on.
using sayloft::testing::unusedPort;

// The status line's code of a raw response, or 0; and what follows its headers.
int statusOf(const std::string& rawResponse);
std::string bodyOf(const std::string& rawResponse);

// A fresh token from the server on 127.0.0.1:port, "" when it gives none.
std::string registerToken(int port);

}  // namespace sayloft::test
