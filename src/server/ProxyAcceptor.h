#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include <sys/socket.h>

#include "server/TrustedProxies.h"

namespace sayloft {

// Accepts the connections of a listening socket in place of the HTTP library when the service
// stands behind proxies that send the PROXY protocol (ProxyHeader), so that every limit kept per
// client address sees the client's address instead of the proxy's:
// - a trusted peer must begin with a valid version 2 header within `headerDeadline`; the connection
//   is handed over with the client's address from it (a LOCAL header: the peer's own);
// - any other peer is handed over with its own address, unless its first bytes look like a PROXY
//   header (an attempt to choose its address): then it is refused;
// - a refused connection is closed and named in one note.
// The header is read exactly (never past it), so the request behind it reaches the library
// whole. Each connection is read on its own short-lived thread; at most `maxPending` at once,
// beyond which new connections are closed.
class ProxyAcceptor {
public:
    // Takes the connected socket (closing it on failure, as MHD_add_connection does).
    using HandOver = std::function<void(int fd, const sockaddr* client, socklen_t length)>;
    using Note = std::function<void(std::string_view)>;

    ProxyAcceptor(int listeningFd, TrustedProxies trusted, std::size_t maxPending,
                  HandOver handOver, Note note);
    ~ProxyAcceptor();
    ProxyAcceptor(const ProxyAcceptor&) = delete;
    ProxyAcceptor& operator=(const ProxyAcceptor&) = delete;

    // False when the thread or its wake-up pipe cannot be made.
    bool start();
    // Stops accepting, closes the listening socket, and waits for the connections being read
    // (at most `headerDeadline`). Nothing is handed over after it returns.
    void stop();

    static constexpr std::chrono::milliseconds headerDeadline{2000};

private:
    void acceptLoop();
    void admit(int fd, sockaddr_storage peer, socklen_t length);
    void refuse(int fd, const sockaddr_storage& peer, std::string_view why);

    int listeningFd_;
    const TrustedProxies trusted_;
    const std::size_t maxPending_;
    HandOver handOver_;
    Note note_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::size_t pending_ = 0;
};

}  // namespace sayloft
