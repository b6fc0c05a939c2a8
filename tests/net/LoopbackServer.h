#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
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
struct Gate {
    std::atomic<bool> opened = false;
    void open() {
        opened = true;
        opened.notify_all();
    }
    void wait() const { opened.wait(false); }
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
// handler. The n-th request (counting from 0, all paths together) is given its index. With tls,
// it speaks HTTPS with a self-signed certificate for 127.0.0.1 (valid 2000-2100, tests only),
// which a client trusting only caFile() verifies as it would a public server.
class LoopbackServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&, std::size_t)>;

    explicit LoopbackServer(Handler handler, bool tls = false);
    // Opens every gate, stops the server and joins its threads.
    ~LoopbackServer();

    Url url() const {
        return *Url::parse((tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") +
                           std::to_string(port_));
    }
    static std::filesystem::path caFile() {
        return std::filesystem::path(SAYLOFT_TEST_CERT_DIR) / "tls-test-cert.pem";
    }
    int port() const { return port_; }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const { return requests().size(); }
    // Blocks until at least n requests have arrived.
    void waitForRequests(std::size_t n) const {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] { return requests_.size() >= n; });
    }

    // A gate owned by the server, opened at shutdown at the latest.
    Gate& gate(std::size_t index);

    void stop();

    // Ready-made handler pieces.
    static void reply(httplib::Response& res, int status, const std::string& body) {
        res.status = status;
        res.set_content(body, "application/json");
    }
    // Sends the status line, the headers and a few body bytes of a longer announced body, then
    // drops the connection.
    static void dropMidAnswer(httplib::Response& res);

private:
    bool tls_;
    std::unique_ptr<httplib::Server> server_;
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

// A socket listening on 127.0.0.1 at a free port, which it stores in port.
int listenOnLoopback(int& port);
// A loopback port that nothing listens on (bound, then released).
int unusedPort();

}  // namespace sayloft::testing
