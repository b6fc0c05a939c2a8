#include "ChunkedUploadServer.h"

#include <chrono>
#include <stdexcept>
#include <string_view>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sayloft::testing {
namespace {

// The body decoded from the complete chunks in bytes; final says whether the last chunk came.
std::string decodeChunks(std::string_view bytes, bool& final) {
    std::string body;
    final = false;
    for (;;) {
        const auto lineEnd = bytes.find("\r\n");
        if (lineEnd == std::string_view::npos) {
            return body;
        }
        const std::size_t size = std::stoul(std::string(bytes.substr(0, lineEnd)), nullptr, 16);
        if (bytes.size() < lineEnd + size + 4) {
            return body;
        }
        final = size == 0;
        if (final) {
            return body;
        }
        body.append(bytes.substr(lineEnd + 2, size));
        bytes.remove_prefix(lineEnd + size + 4);
    }
}

}  // namespace

ChunkedUploadServer::ChunkedUploadServer(Script script, std::filesystem::path unixSocket)
    : script_(std::move(script)), unixSocket_(std::move(unixSocket)) {
    sockaddr_in inet{};
    sockaddr_un local{};
    if (unixSocket_.empty()) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        inet.sin_family = AF_INET;
        inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof inet;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&inet), sizeof inet) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&inet), &length) != 0) {
            throw std::runtime_error("test server: cannot bind");
        }
        port_ = ntohs(inet.sin_port);
    } else {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        local.sun_family = AF_UNIX;
        unixSocket_.native().copy(local.sun_path, sizeof local.sun_path - 1);
        std::filesystem::remove(unixSocket_);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            throw std::runtime_error("test server: cannot bind " + unixSocket_.string());
        }
    }
    ::listen(listener_, 4);
    thread_ = std::thread([this] {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            return;  // stopped before a client came
        }
        {
            std::lock_guard lock(mutex_);
            connection_ = connection;
            if (stopping_) {
                ::shutdown(connection, SHUT_RDWR);
            }
        }
        serve(connection);
        std::lock_guard lock(mutex_);
        upload_.ended = true;
        changed_.notify_all();
    });
}

ChunkedUploadServer::~ChunkedUploadServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (connection_ >= 0) {
            ::shutdown(connection_, SHUT_RDWR);
        }
    }
    ::shutdown(listener_, SHUT_RDWR);  // ends a pending accept
    thread_.join();
    if (connection_ >= 0) {
        ::close(connection_);
    }
    ::close(listener_);
    if (!unixSocket_.empty()) {
        std::filesystem::remove(unixSocket_);
    }
}

Url ChunkedUploadServer::url() const {
    return *Url::parse(unixSocket_.empty() ? "http://127.0.0.1:" + std::to_string(port_)
                                           : std::string("http://localhost"));
}

// Decodes what arrived after every read, answers once the script's moment came, and keeps the
// connection until the client closes it (or the server stops).
void ChunkedUploadServer::serve(int connection) {
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
            due = script_.when == When::atHead ||
                  (script_.when == When::afterBytes && upload_.body.size() >= script_.afterBytes) ||
                  (script_.when == When::afterEnd && upload_.finalChunk);
        }
        if (due && !answered) {
            answered = true;
            if (script_.reset) {
                const linger abort{1, 0};
                ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                std::lock_guard lock(mutex_);
                ::close(connection);
                connection_ = -1;
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

ChunkedUploadServer::Upload ChunkedUploadServer::waitForBody(std::size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] {
        return upload_.ended || (!upload_.head.empty() && upload_.body.size() >= n);
    });
    return upload_;
}

}  // namespace sayloft::testing
