#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "core/config/Url.h"

namespace sayloft::testing {

// A latch that scripted handlers wait on, released by the test (or by the server's shutdown).
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// What the server received, recorded when the handler starts.
struct RecordedRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
    int remotePort = -1;  // the client's port: equal ports mean one reused connection
};

// A real HTTP server on 127.0.0.1 with a free port, answering every request with a scripted
// handler. The n-th request (counting from 0, all paths together) is given its index.
class LoopbackServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&, std::size_t)>;

    explicit LoopbackServer(Handler handler);
    // Opens every gate, stops the server and joins its threads.
    ~LoopbackServer();

    Url url() const;
    int port() const { return port_; }

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Blocks until at least n requests have arrived.
    void waitForRequests(std::size_t n) const;

    // A gate owned by the server, opened at shutdown at the latest.
    Gate& gate(std::size_t index);

    void stop();

    // Ready-made handler pieces.
    static void reply(httplib::Response& res, int status, const std::string& body);
    // Sends the status line, the headers and a few body bytes of a longer announced body, then
    // drops the connection.
    static void dropMidAnswer(httplib::Response& res);

private:
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> listenReturned_{false};
    int port_ = 0;
    Handler handler_;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::unique_ptr<Gate>> gates_;
    bool stopped_ = false;
};

// Threads and open file descriptors of this process, for leak checks.
std::size_t threadCount();
std::size_t openDescriptorCount();

// A loopback port that nothing listens on (bound, then released).
int unusedPort();

}  // namespace sayloft::testing
