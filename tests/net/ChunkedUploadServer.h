#pragma once

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "core/config/Url.h"

namespace sayloft::testing {

// An HTTP server on a raw socket for streamed uploads, where LoopbackServer's library cannot go
// (a Unix socket, a reset, an answer in the middle of a body): it accepts one connection, decodes
// the chunked body as it arrives and answers as scripted.
class ChunkedUploadServer {
public:
    enum class When { afterEnd, atHead, afterBytes, never };
    struct Script {
        When when = When::afterEnd;
        std::size_t afterBytes = 0;  // for When::afterBytes: the body bytes to wait for
        int status = 200;
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

    // Listens on 127.0.0.1 (a free port), or on this Unix socket path when it is not empty.
    explicit ChunkedUploadServer(Script script, std::filesystem::path unixSocket = {});
    // Closes the connection and joins the server's thread.
    ~ChunkedUploadServer();
    ChunkedUploadServer(const ChunkedUploadServer&) = delete;
    ChunkedUploadServer& operator=(const ChunkedUploadServer&) = delete;

    // http://127.0.0.1:<port>, or http://localhost for a Unix socket.
    Url url() const;
    const std::filesystem::path& unixSocket() const { return unixSocket_; }

    // What arrived once the head and n body bytes did or the upload ended (bounded: 10 s).
    Upload waitForBody(std::size_t n);
    Upload waitForEnd() { return waitForBody(std::string::npos); }

private:
    void serve(int connection);

    Script script_;
    std::filesystem::path unixSocket_;
    int listener_ = -1;
    int port_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    Upload upload_;
    int connection_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace sayloft::testing
