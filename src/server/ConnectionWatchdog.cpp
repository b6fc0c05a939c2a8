#include "server/ConnectionWatchdog.h"

#include <algorithm>
#include <vector>

namespace sayloft {

ConnectionWatchdog::ConnectionWatchdog(const ConnectionDeadlines::Limits& limits,
                                       std::size_t busyAbove)
    : limits_(limits), busyAbove_(busyAbove) {
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

ConnectionWatchdog::~ConnectionWatchdog() {
    thread_.request_stop();
    wake_.notify_all();
}

std::shared_ptr<WatchedConnection> ConnectionWatchdog::add(int fd, bool tcp) {
    auto connection =
        std::make_shared<WatchedConnection>(fd, tcp, ConnectionDeadlines::Clock::now());
    std::lock_guard lock(mutex_);
    connections_.insert(connection);
    return connection;
}

void ConnectionWatchdog::remove(const std::shared_ptr<WatchedConnection>& connection) {
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
}

void ConnectionWatchdog::stopping() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void ConnectionWatchdog::run(std::stop_token stop) {
    // Often enough that a deadline is kept to within a quarter of the shortest one.
    const auto shortest = std::min({limits_.head, limits_.bodyGrace, limits_.busyIdle});
    const auto tick =
        std::clamp(shortest / 4, std::chrono::milliseconds(20), std::chrono::milliseconds(250));
    bool sawStopping = false;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, stop, tick, [&] { return stopping_ != sawStopping; });
            sawStopping = stopping_;
        }
        round();
    }
}

void ConnectionWatchdog::round() {
    std::vector<std::shared_ptr<WatchedConnection>> open;
    bool stopping = false;
    {
        std::lock_guard lock(mutex_);
        open.assign(connections_.begin(), connections_.end());
        stopping = stopping_;
    }
    const bool busy = open.size() > busyAbove_;
    const auto now = ConnectionDeadlines::Clock::now();
    for (const auto& connection : open) {
        const auto verdict =
            ConnectionDeadlines::judge(connection->observe(now), now, limits_, busy, stopping);
        if (verdict != ConnectionDeadlines::Verdict::keep) {
            connection->cut();
        }
    }
}

}  // namespace sayloft
