#pragma once

#include <atomic>
#include <string>

#include <httplib.h>
#include <unistd.h>

#include "LoopbackServer.h"

namespace sayloft::test {

using sayloft::testing::LoopbackServer;
using sayloft::testing::unusedPort;

// A stand-in for an OpenAI-compatible transcription service: answers `text` with `status`
// (anything else than 200: a failing one); while `hold` is set, request n waits for gate(n).
class FakeUpstream : public LoopbackServer {
public:
    static constexpr const char* text = "fake words from upstream";

    FakeUpstream()
        : LoopbackServer([this](const httplib::Request&, httplib::Response& res, std::size_t n) {
              if (hold) {
                  gate(n).wait();
              }
              reply(res, status,
                    status == 200 ? std::string(R"({"text":")") + text + "\"}"
                                  : R"({"error":"boom"})");
          }) {}
    std::string address() const { return url().text(); }

    std::atomic<int> status{200};
    std::atomic<bool> hold{false};
};

// Talks HTTP/1.1 over a plain socket, for bodies sent in pieces and answers read by hand.
class RawConnection {
public:
    // from: the local address to connect from (another loopback address plays another client).
    explicit RawConnection(int port, const char* from = nullptr);
    ~RawConnection() { ::close(fd_); }
    bool send(const std::string& bytes);
    // Reads until a whole response (headers and Content-Length body) or EOF or the timeout; ""
    // when the connection was reset or closed without an answer. Bytes of a next (pipelined)
    // response are kept for the next call.
    std::string readResponse(int timeoutMs);
    // Reads and drops whatever comes until the server closes (true) or nothing more comes
    // within the timeout.
    bool waitForClose(int timeoutMs);

private:
    int fd_ = -1;
    bool closed_ = false;
    std::string pending_;
};

// POST /v1/stream over its own connection: the headers at once, then the body in chunks as the
// test sends them; closing it (destroying it) before finish() cancels the stream.
class StreamingClient : public RawConnection {
public:
    StreamingClient(int port, const std::string& token);
    // The samples of a canonical 16-bit WAV file as audio/L16 (big-endian) in chunks of at most
    // chunkBytes; false when the server closed.
    bool sendSamples(std::string_view wav, std::size_t chunkBytes);
    // The final zero chunk, then the raw answer ("" when none came within two minutes).
    std::string finish();
};

// The status line's code of a raw response, or 0; a header's value ("" when absent); and what
// follows the headers.
int statusOf(const std::string& rawResponse);
std::string headerOf(const std::string& rawResponse, const std::string& name);
std::string bodyOf(const std::string& rawResponse);

// A fresh token from the server on 127.0.0.1:port, "" when it gives none.
std::string registerToken(int port);

// POST /v1/transcribe of this WAV as the client sends it, with these headers (a bearer token
// when `token` is not empty); waits up to two minutes for the answer.
httplib::Result upload(int port, const std::string& token, const std::string& wav,
                       httplib::Headers headers = {});

}  // namespace sayloft::test
