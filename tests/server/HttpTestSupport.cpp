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

#include "TestForms.h"

namespace sayloft::test {

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
            closed_ = true;
            return in;
        }
        in.append(buffer, static_cast<std::size_t>(got));
    }
}

bool RawConnection::waitForClose(int timeoutMs) {
    while (!closed_ && !readResponse(timeoutMs).empty()) {
    }
    return closed_;
}

StreamingClient::StreamingClient(int port, const std::string& token) : RawConnection(port) {
    send("POST /v1/stream HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
         "\r\nContent-Type: audio/L16; rate=16000; channels=1\r\nTransfer-Encoding: "
         "chunked\r\n\r\n");
}

bool StreamingClient::sendSamples(std::string_view wav, std::size_t chunkBytes) {
    std::string samples(wav.substr(44));
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        std::swap(samples[i], samples[i + 1]);
    }
    for (std::size_t at = 0; at < samples.size(); at += chunkBytes) {
        const auto piece = samples.substr(at, chunkBytes);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!send(size + piece + "\r\n")) {
            return false;
        }
    }
    return true;
}

std::string StreamingClient::finish() {
    send("0\r\n\r\n");
    return readResponse(120'000);
}

int statusOf(const std::string& raw) {
    if (raw.size() < 12 || !raw.starts_with("HTTP/1.1 ")) {
        return 0;
    }
    return std::stoi(raw.substr(9, 3));
}

std::string headerOf(const std::string& raw, const std::string& name) {
    const auto at = raw.find("\r\n" + name + ": ");
    const auto from = at + name.size() + 4;
    return at == std::string::npos ? "" : raw.substr(from, raw.find("\r\n", from) - from);
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

httplib::Result upload(int port, const std::string& token, const std::string& wav,
                       httplib::Headers headers) {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(std::chrono::seconds(120));
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    const auto boundary = TestForms::newBoundary();
    return c.Post("/v1/transcribe", headers, TestForms::transcribeBody(boundary, wav),
                  TestForms::contentType(boundary).c_str());
}

}  // namespace sayloft::test
