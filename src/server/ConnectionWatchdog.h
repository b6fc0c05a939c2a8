#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "server/ConnectionDeadlines.h"
#include "server/WatchedConnection.h"

namespace sayloft {

// Applies ConnectionDeadlines to every open connection of the service, a few times a second on
// its own thread, and cuts those that overstay. Thread-safe.
class ConnectionWatchdog {
public:
    // busyAbove: with more connections open than this, the short keep-alive applies.
    ConnectionWatchdog(const ConnectionDeadlines::Limits& limits, std::size_t busyAbove);
    ~ConnectionWatchdog();
    ConnectionWatchdog(const ConnectionWatchdog&) = delete;
    ConnectionWatchdog& operator=(const ConnectionWatchdog&) = delete;

    std::shared_ptr<WatchedConnection> add(int fd, bool tcp);
    void remove(const std::shared_ptr<WatchedConnection>& connection);
    // From now on a connection waiting for its next request is closed; those waiting now are
    // closed at once.
    void stopping();

private:
    void run(std::stop_token stop);
    void round();

    const ConnectionDeadlines::Limits limits_;
    const std::size_t busyAbove_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::set<std::shared_ptr<WatchedConnection>> connections_;
    bool stopping_ = false;
    std::jthread thread_;
};

}  // namespace sayloft
