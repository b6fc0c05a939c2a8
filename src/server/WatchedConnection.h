#pragma once

#include <cstdint>
#include <mutex>

#include "server/ConnectionDeadlines.h"

namespace sayloft {

// One accepted connection as the HTTP layer and the watchdog share it: the layer reports the
// request's progress from the connection's thread, the watchdog observes it and may cut it from
// its own. The descriptor belongs to the HTTP library; it is touched (read-only inspection, or a
// shutdown) only under the lock and only until closed() says the library is about to close it,
// so a cut can never reach a later connection that reuses the number.
class WatchedConnection {
public:
    using Clock = ConnectionDeadlines::Clock;

    // tcp: a TCP socket (its kernel byte counter tells when a request's first byte arrives); on
    // the Unix socket the request line's arrival does.
    WatchedConnection(int fd, bool tcp, Clock::time_point now);

    void requestLineArrived(Clock::time_point now);
    void headersArrived(Clock::time_point now);
    // The request's own limit from its headers to the end of its body.
    void limitRequest(std::chrono::milliseconds deadline);
    void bodyArrived(std::uint64_t bytes);
    void bodyComplete();
    void requestDone(Clock::time_point now);
    void closed();

    // The stage now, after noticing the first byte of a request on a waiting connection.
    ConnectionDeadlines::Observation observe(Clock::time_point now);
    // Shuts the socket down so that the library's thread sees the connection end; false when the
    // library closed it already.
    bool cut();
    bool wasCut() const;

private:
    std::uint64_t receivedBytes() const;  // under the lock, while not closed

    mutable std::mutex mutex_;
    const int fd_;
    const bool tcp_;
    bool closed_ = false;
    bool cut_ = false;
    ConnectionDeadlines::Observation observation_;
    std::uint64_t receivedWhenWaiting_ = 0;
};

}  // namespace sayloft
