#include "HttpTestSupport.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sayloft::test {

FakeUpstream::FakeUpstream() {
    server_.Post(
        "/v1/audio/transcriptions", [this](const httplib::Request& req, httplib::Response& res) {
            std::unique_lock lock(mutex_);
            ++requests_;
            model_ = req.has_file("model") ? req.get_file_value("model").content : "";
            wav_ = req.has_file("file") ? req.get_file_value("file").content : "";
            changed_.notify_all();
            if (mode_ == Mode::hold) {
                changed_.wait(lock, [this] { return released_; });
            }
            if (mode_ == Mode::fail500) {
                res.status = 500;
                res.set_content("{\"error\":\"boom\"}", "application/json");
                return;
            }
            res.set_content(std::string("{\"text\":\"") + text + "\"}", "application/json");
        });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

FakeUpstream::~FakeUpstream() {
    release();
    server_.stop();
    thread_.join();
}

void FakeUpstream::setMode(Mode mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    released_ = false;
}

void FakeUpstream::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

bool FakeUpstream::waitForRequests(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_ >= count; });
}

int FakeUpstream::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}
std::string FakeUpstream::lastModel() const {
    std::lock_guard lock(mutex_);
    return model_;
}
std::string FakeUpstream::lastWav() const {
    std::lock_guard lock(mutex_);
    return wav_;
}

RawConnection::RawConnection(int port, const char* from) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (from != nullptr) {
        ::inet_pton(AF_INET, from, &address.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error(std::string("cannot bind to ") + from);
        }
    }
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect");
    }
}

RawConnection::~RawConnection() {
    ::close(fd_);
}

bool RawConnection::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawConnection::readResponse(int timeoutMs) {
    std::string in = std::move(pending_);
    pending_.clear();
    for (;;) {
        const auto headerEnd = in.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            const auto at = in.find("Content-Length: ");
            const std::size_t length =
                at != std::string::npos && at < headerEnd ? std::stoul(in.substr(at + 16)) : 0;
            if (in.size() >= headerEnd + 4 + length) {
                pending_ = in.substr(headerEnd + 4 + length);
                in.resize(headerEnd + 4 + length);
                return in;
            }
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return in;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return in;
        }
        in.append(buffer, static_cast<std::size_t>(got));
    }
}

bool RawConnection::waitForClose(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
}

StreamingClient::StreamingClient(int port, const std::string& token, const std::string& contentType,
                                 const std::string& method)
    : connection_(port) {
    connection_.send(method + " /v1/stream HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                     token + "\r\nContent-Type: " + contentType +
                     "\r\nTransfer-Encoding: chunked\r\n\r\n");
}

bool StreamingClient::send(std::string_view bytes, std::size_t chunkBytes) {
    for (std::size_t at = 0; at < bytes.size(); at += chunkBytes) {
        const auto piece = bytes.substr(at, chunkBytes);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!connection_.send(size + std::string(piece) + "\r\n")) {
            return false;
        }
    }
    return true;
}

std::string StreamingClient::finish(int timeoutMs) {
    connection_.send("0\r\n\r\n");
    return connection_.readResponse(timeoutMs);
}

std::string StreamingClient::bigEndian(std::string_view littleEndian) {
    std::string out(littleEndian);
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
        std::swap(out[i], out[i + 1]);
    }
    return out;
}

int statusOf(const std::string& raw) {
    if (raw.size() < 12 || !raw.starts_with("HTTP/1.1 ")) {
        return 0;
    }
    return std::stoi(raw.substr(9, 3));
}

std::string bodyOf(const std::string& raw) {
    const auto headersEnd = raw.find("\r\n\r\n");
    return headersEnd == std::string::npos ? "" : raw.substr(headersEnd + 4);
}

std::string registerToken(int port) {
    httplib::Client c("127.0.0.1", port);
    const auto res = c.Post("/v1/register");
    return res && res->status == 200 ? nlohmann::json::parse(res->body).value("token", "") : "";
}

}  // namespace sayloft::test
