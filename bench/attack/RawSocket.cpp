#include "RawSocket.h"

#include <cerrno>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sayloft::bench {
namespace {

int msUntil(RawSocket::Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - RawSocket::Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

const char* RawSocket::describe(Io io) {
    switch (io) {
        case Io::ok:
            return "ok";
        case Io::closed:
            return "closed";
        case Io::reset:
            return "reset";
        case Io::timeout:
            return "timeout";
        case Io::failed:
            return "refused";
    }
    return "?";
}

RawSocket::RawSocket(const std::string& source, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw std::runtime_error("socket: out of descriptors?");
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        throw std::runtime_error("cannot bind to " + source);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        peerGone_ = true;
        peerIo_ = Io::failed;
    }
}

RawSocket::~RawSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

RawSocket::RawSocket(RawSocket&& other) noexcept
    : fd_(other.fd_),
      peerGone_(other.peerGone_),
      peerIo_(other.peerIo_),
      received_(std::move(other.received_)) {
    other.fd_ = -1;
}

RawSocket::Io RawSocket::finishConnect(Clock::time_point deadline) {
    if (peerIo_ == Io::failed) {
        return Io::failed;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, msUntil(deadline)) <= 0) {
        return Io::timeout;
    }
    return pollConnect();
}

RawSocket::Io RawSocket::pollConnect() {
    if (peerIo_ == Io::failed) {
        return Io::failed;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0) {
        return Io::timeout;
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
        peerGone_ = true;
        peerIo_ = Io::failed;
        return Io::failed;
    }
    return Io::ok;
}

RawSocket::Io RawSocket::receive(int waitMs) {
    if (peerGone_) {
        return peerIo_;
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) {
        return Io::ok;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            received_.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Io::ok;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        peerGone_ = true;
        peerIo_ = got == 0 ? Io::closed : Io::reset;
        return peerIo_;
    }
}

bool RawSocket::hasAnswer() const {
    return HttpAnswer::parse(received_).has_value();
}

bool RawSocket::closedByPeer() {
    receive(0);
    return peerGone_;
}

RawSocket::Io RawSocket::send(std::string_view bytes, Clock::time_point deadline) {
    std::uint64_t sent = 0;
    bool given = false;
    return stream(
        [&]() -> std::string_view {
            if (given) {
                return {};
            }
            given = true;
            return bytes;
        },
        deadline, sent);
}

RawSocket::Io RawSocket::stream(const std::function<std::string_view()>& next,
                                Clock::time_point deadline, std::uint64_t& sent) {
    std::string_view piece = next();
    while (!piece.empty()) {
        if (peerGone_) {
            return peerIo_;
        }
        if (hasAnswer()) {
            return Io::ok;
        }
        pollfd p{fd_, POLLIN | POLLOUT, 0};
        const int ready = ::poll(&p, 1, std::min(msUntil(deadline), 100));
        if (ready <= 0) {
            if (Clock::now() >= deadline) {
                return Io::timeout;
            }
            continue;
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            receive(0);
        }
        if ((p.revents & POLLOUT) != 0 && !peerGone_) {
            const ssize_t wrote = ::send(fd_, piece.data(), piece.size(), MSG_NOSIGNAL);
            if (wrote < 0) {
                const int error = errno;
                if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
                    continue;
                }
                // The server's answer may already be waiting behind the error.
                receive(0);
                peerGone_ = true;
                peerIo_ = error == EPIPE ? Io::closed : Io::reset;
                return peerIo_;
            }
            sent += static_cast<std::uint64_t>(wrote);
            piece.remove_prefix(static_cast<std::size_t>(wrote));
            if (piece.empty()) {
                piece = next();
            }
        }
    }
    return Io::ok;
}

std::optional<HttpAnswer> RawSocket::readAnswer(Clock::time_point deadline, Io& io) {
    for (;;) {
        if (auto parsed = HttpAnswer::parse(received_)) {
            received_.erase(0, parsed->consumed);
            io = Io::ok;
            return std::move(parsed->answer);
        }
        if (peerGone_) {
            io = peerIo_;
            return std::nullopt;
        }
        const int wait = msUntil(deadline);
        if (wait == 0) {
            io = Io::timeout;
            return std::nullopt;
        }
        receive(std::min(wait, 100));
    }
}

}  // namespace sayloft::bench
