#include "server/ProxyAcceptor.h"

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include "server/ProxyHeader.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd is readable or the deadline passes.
bool readable(int fd, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

// Reads exactly bytes.size() bytes (false at the end of the stream, an error or the deadline).
bool readExactly(int fd, std::span<std::uint8_t> bytes, Clock::time_point deadline) {
    std::size_t got = 0;
    while (got < bytes.size()) {
        if (!readable(fd, deadline)) {
            return false;
        }
        const ssize_t n = ::recv(fd, bytes.data() + got, bytes.size() - got, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return true;
}

std::string textOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                    sizeof text);
    } else if (address.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                    sizeof text);
    }
    return text;
}

// The socket address of the client a header names.
socklen_t clientAddressOf(const ProxyHeader::Parsed& header, sockaddr_storage* client) {
    *client = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(client);
    if (::inet_pton(AF_INET, header.clientAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(header.clientPort);
        return sizeof(sockaddr_in);
    }
    *client = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(client);
    ::inet_pton(AF_INET6, header.clientAddress.c_str(), &v6->sin6_addr);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(header.clientPort);
    return sizeof(sockaddr_in6);
}

}  // namespace

ProxyAcceptor::ProxyAcceptor(int listeningFd, TrustedProxies trusted, std::size_t maxPending,
                             HandOver handOver, Note note)
    : listeningFd_(listeningFd),
      trusted_(std::move(trusted)),
      maxPending_(maxPending),
      handOver_(std::move(handOver)),
      note_(std::move(note)) {
}

ProxyAcceptor::~ProxyAcceptor() {
    stop();
}

bool ProxyAcceptor::start() {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    thread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void ProxyAcceptor::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
        thread_.join();
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
    lock.unlock();
    for (int& fd : {std::ref(wake_[0]), std::ref(wake_[1]), std::ref(listeningFd_)}) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void ProxyAcceptor::acceptLoop() {
    for (;;) {
        std::array<pollfd, 2> polled{{{listeningFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}}};
        if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) {
            return;
        }
        if (polled[1].revents != 0) {
            return;
        }
        if ((polled[0].revents & POLLIN) == 0) {
            continue;
        }
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd =
            ::accept4(listeningFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;  // the peer gave up, or descriptors ran out: the next poll retries
        }
        std::lock_guard lock(mutex_);
        if (pending_ >= maxPending_) {
            ::close(fd);
            continue;
        }
        ++pending_;
        std::thread([this, fd, peer, length] { admit(fd, peer, length); }).detach();
    }
}

void ProxyAcceptor::admit(int fd, sockaddr_storage peer, socklen_t length) {
    const auto deadline = Clock::now() + headerDeadline;
    const auto* peerAddress = reinterpret_cast<const sockaddr*>(&peer);
    if (trusted_.trusts(peerAddress)) {
        std::vector<std::uint8_t> header(ProxyHeader::fixedBytes);
        ProxyHeader::Parsed parsed;
        bool read = readExactly(fd, header, deadline);
        parsed = read ? ProxyHeader::parse(header) : ProxyHeader::Parsed{};
        if (parsed.status == ProxyHeader::Status::incomplete && read) {
            const std::size_t had = header.size();
            header.resize(parsed.needed);
            read = readExactly(fd, std::span(header).subspan(had), deadline);
            parsed = read ? ProxyHeader::parse(header) : ProxyHeader::Parsed{};
        }
        if (parsed.status != ProxyHeader::Status::complete) {
            refuse(fd, peer,
                   parsed.status == ProxyHeader::Status::invalid
                       ? parsed.reason
                       : "no PROXY header in time from a trusted proxy");
        } else if (parsed.local) {
            handOver_(fd, peerAddress, length);
        } else {
            sockaddr_storage client{};
            const socklen_t clientLength = clientAddressOf(parsed, &client);
            handOver_(fd, reinterpret_cast<const sockaddr*>(&client), clientLength);
        }
    } else {
        std::array<std::uint8_t, 12> first{};
        const ssize_t n = readable(fd, deadline)
                              ? ::recv(fd, first.data(), first.size(), MSG_PEEK | MSG_DONTWAIT)
                              : 0;
        if (n > 0 &&
            ProxyHeader::looksLikeOne(std::span(first.data(), static_cast<std::size_t>(n)))) {
            refuse(fd, peer, "a PROXY header from an address not trusted to send one");
        } else {
            handOver_(fd, peerAddress, length);
        }
    }
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) {
        idle_.notify_all();
    }
}

void ProxyAcceptor::refuse(int fd, const sockaddr_storage& peer, std::string_view why) {
    ::close(fd);
    note_("refused a connection from " + textOf(peer) + ": " + std::string(why));
}

}  // namespace sayloft
