#include "ChunkedUploadServer.h"

#include <chrono>
#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sayloft::testing {
namespace {

// Reads more bytes into inbox; false once the peer closed or the socket failed.
bool receive(int fd, std::string& inbox) {
    char buffer[4096];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
        return false;
    }
    inbox.append(buffer, static_cast<std::size_t>(got));
    return true;
}

// Waits until inbox holds delimiter; returns its position, or npos when the peer went away.
std::size_t receiveUntil(int fd, std::string& inbox, std::string_view delimiter) {
    for (;;) {
        if (const auto at = inbox.find(delimiter); at != std::string::npos) {
            return at;
        }
        if (!receive(fd, inbox)) {
            return std::string::npos;
        }
    }
}

}  // namespace

ChunkedUploadServer::ChunkedUploadServer(Script script, std::filesystem::path unixSocket)
    : script_(std::move(script)), unixSocket_(std::move(unixSocket)) {
    if (unixSocket_.empty()) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("test server: cannot bind");
        }
        port_ = ntohs(address.sin_port);
    } else {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        unixSocket_.native().copy(address.sun_path, sizeof address.sun_path - 1);
        std::filesystem::remove(unixSocket_);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
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

void ChunkedUploadServer::serve(int connection) {
    std::string inbox;
    const auto headEnd = receiveUntil(connection, inbox, "\r\n\r\n");
    if (headEnd == std::string::npos) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        upload_.head = inbox.substr(0, headEnd + 2);
    }
    inbox.erase(0, headEnd + 4);
    bool answered = false;
    auto answerWhen = [&](bool due) {
        if (due && !answered) {
            answered = true;
            answer(connection);
        }
        return !(answered && script_.reset);
    };
    if (!answerWhen(script_.when == When::atHead)) {
        return;
    }
    for (;;) {
        const auto lineEnd = receiveUntil(connection, inbox, "\r\n");
        if (lineEnd == std::string::npos) {
            return;
        }
        const std::size_t size = std::stoul(inbox.substr(0, lineEnd), nullptr, 16);
        inbox.erase(0, lineEnd + 2);
        while (inbox.size() < size + 2) {
            if (!receive(connection, inbox)) {
                return;
            }
        }
        std::size_t bodySize = 0;
        {
            std::lock_guard lock(mutex_);
            upload_.body.append(inbox, 0, size);
            upload_.finalChunk = size == 0;
            upload_.ended = size == 0;
            bodySize = upload_.body.size();
            changed_.notify_all();
        }
        inbox.erase(0, size + 2);
        if (!answerWhen(size == 0
                            ? script_.when == When::afterEnd
                            : script_.when == When::afterBytes && bodySize >= script_.afterBytes)) {
            return;
        }
        if (size == 0) {
            break;
        }
    }
    // Keeps the connection until the client closes it (or the server stops).
    while (receive(connection, inbox)) {
    }
}

void ChunkedUploadServer::answer(int connection) {
    if (script_.reset) {
        const linger abort{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        std::lock_guard lock(mutex_);
        ::close(connection);
        connection_ = -1;
        return;
    }
    const std::string reply = "HTTP/1.1 " + std::to_string(script_.status) +
                              " Scripted\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(script_.body.size()) + "\r\n\r\n" + script_.body;
    ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
}

ChunkedUploadServer::Upload ChunkedUploadServer::waitUntil(std::size_t bodyBytes) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] {
        return upload_.ended || (!upload_.head.empty() && upload_.body.size() >= bodyBytes);
    });
    return upload_;
}

ChunkedUploadServer::Upload ChunkedUploadServer::waitForBody(std::size_t n) {
    return waitUntil(n);
}

ChunkedUploadServer::Upload ChunkedUploadServer::waitForEnd() {
    return waitUntil(std::string::npos);
}

}  // namespace sayloft::testing
