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
// (a Unix socket, a reset, an answer in the middle of a body): it accepts one connection, reads
// the request head, decodes the chunked body as it arrives and answers as scripted.
class ChunkedUploadServer {
public:
    enum class When {
        afterEnd,    // once the final chunk arrived
        atHead,      // as soon as the head arrived, before any of the body
        afterBytes,  // once the body holds Script::afterBytes bytes
        never,       // reads everything and never answers
    };
    struct Script {
        When when = When::afterEnd;
        std::size_t afterBytes = 0;
        int status = 200;
        std::string body = R"({"text":"hello","duration":1.5})";
        bool reset = false;  // at the answer's moment, drops the connection with a reset instead
    };
    // What the client sent: the head, the decoded body, and whether the final chunk came (false:
    // the client closed the connection before the end).
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

    // What arrived once the head and at least n bytes of the body did, or the upload ended
    // (bounded: 10 s).
    Upload waitForBody(std::size_t n);
    // What arrived once the upload ended (bounded: 10 s; ended says whether it did).
    Upload waitForEnd();

private:
    void serve(int connection);
    void answer(int connection);
    Upload waitUntil(std::size_t bodyBytes);

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
