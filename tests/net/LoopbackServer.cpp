#include "LoopbackServer.h"

#include <filesystem>
#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sayloft::testing {

LoopbackServer::LoopbackServer(Handler handler, bool tls)
    : tls_(tls),
      server_(tls ? std::make_unique<httplib::SSLServer>(
                        caFile().c_str(), (caFile().parent_path() / "tls-test-key.pem").c_str())
                  : std::make_unique<httplib::Server>()),
      handler_(std::move(handler)) {
    server_->set_keep_alive_timeout(1);
    // Without it the server's answer waits on the client's delayed acknowledgement (~40 ms).
    server_->set_tcp_nodelay(true);
    // The server would parse a multipart body into parts and leave the raw bytes unrecorded;
    // hiding its type keeps the exact bytes in req.body. The type is restored when recording.
    static const std::string hidden = "hidden/";
    server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        auto& headers = const_cast<httplib::Request&>(req).headers;
        if (const auto type = headers.find("Content-Type");
            type != headers.end() && type->second.starts_with("multipart/")) {
            type->second.insert(0, hidden);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
        std::size_t index = 0;
        {
            std::lock_guard lock(mutex_);
            index = requests_.size();
            httplib::Headers headers = req.headers;
            if (const auto type = headers.find("Content-Type");
                type != headers.end() && type->second.starts_with(hidden)) {
                type->second.erase(0, hidden.size());
            }
            requests_.push_back({req.method, req.path, headers, req.body, req.remote_port});
            arrived_.notify_all();
        }
        handler_(req, res, index);
    };
    server_->Get(".*", dispatch);
    server_->Post(".*", dispatch);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("test server: cannot bind");
    }
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenReturned_ = true;
    });
    // stop() is ignored by the server until its loop runs, so a server stopped right away would
    // never end: wait for the loop to start.
    while (!server_->is_running() && !listenReturned_) {
        std::this_thread::yield();
    }
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return;
        }
        stopped_ = true;
        for (auto& gate : gates_) {
            gate->open();
        }
    }
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

Gate& LoopbackServer::gate(std::size_t index) {
    std::lock_guard lock(mutex_);
    while (gates_.size() <= index) {
        gates_.push_back(std::make_unique<Gate>());
        if (stopped_) {
            gates_.back()->open();
        }
    }
    return *gates_[index];
}

void LoopbackServer::dropMidAnswer(httplib::Response& res) {
    res.status = 200;
    // A few body bytes, then abandons the answer and closes the connection.
    res.set_content_provider(1000, "application/json",
                             [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 return offset == 0 && sink.write("{\"text\"", 7);
                             });
}

// Entries in one of this process's /proc folders.
static std::size_t entriesIn(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

std::size_t threadCount() {
    return entriesIn("/proc/self/task");
}

std::size_t openDescriptorCount() {
    return entriesIn("/proc/self/fd");
}

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("test server: cannot listen");
    }
    port = ntohs(address.sin_port);
    return fd;
}

int unusedPort() {
    int port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

}  // namespace sayloft::testing
