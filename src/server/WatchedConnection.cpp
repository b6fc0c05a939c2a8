#include "server/WatchedConnection.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace sayloft {

using Stage = ConnectionDeadlines::Stage;

WatchedConnection::WatchedConnection(int fd, bool tcp, Clock::time_point now)
    : fd_(fd), tcp_(tcp), observation_{Stage::waiting, now, 0, {}} {
}

std::uint64_t WatchedConnection::receivedBytes() const {
    if (!tcp_ || closed_) {
        return 0;
    }
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_bytes_received
                                                                         : 0;
}

void WatchedConnection::requestLineArrived(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (observation_.stage == Stage::waiting) {
        observation_ = {Stage::head, now, 0, {}};
    }
}

void WatchedConnection::headersArrived(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    observation_ = {Stage::body, now, 0, {}};
}

void WatchedConnection::limitRequest(std::chrono::milliseconds deadline) {
    std::lock_guard lock(mutex_);
    observation_.requestDeadline = deadline;
}

void WatchedConnection::bodyArrived(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    observation_.bodyBytes += bytes;
}

void WatchedConnection::bodyComplete() {
    std::lock_guard lock(mutex_);
    observation_.stage = Stage::working;
}

void WatchedConnection::requestDone(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    observation_ = {Stage::waiting, now, 0, {}};
    receivedWhenWaiting_ = receivedBytes();
}

void WatchedConnection::closed() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

ConnectionDeadlines::Observation WatchedConnection::observe(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (observation_.stage == Stage::waiting && receivedBytes() > receivedWhenWaiting_) {
        observation_ = {Stage::head, now, 0, {}};
    }
    return observation_;
}

bool WatchedConnection::cut() {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    cut_ = true;
    return ::shutdown(fd_, SHUT_RDWR) == 0;
}

bool WatchedConnection::wasCut() const {
    std::lock_guard lock(mutex_);
    return cut_;
}

}  // namespace sayloft
