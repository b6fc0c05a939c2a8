#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "HttpAnswer.h"

namespace sayloft::bench {

// A non-blocking TCP connection to the server on 127.0.0.1, from a chosen loopback source
// address (bound before the connect), with every wait bounded by a deadline. Answers are read
// into a buffer, so pipelined and keep-alive answers are taken one by one.
class RawSocket {
public:
    using Clock = std::chrono::steady_clock;

    // How an exchange ended on the connection.
    enum class Io { ok, closed, reset, timeout, failed };
    static const char* describe(Io io);

    // Starts connecting; `connected()` tells whether the handshake is done.
    RawSocket(const std::string& source, int port);
    ~RawSocket();
    RawSocket(RawSocket&& other) noexcept;
    RawSocket& operator=(RawSocket&&) = delete;
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    int fd() const { return fd_; }
    // Waits for the handshake until the deadline: ok, or refused (failed), or timeout.
    Io finishConnect(Clock::time_point deadline);
    // One look without waiting: is the connection up, refused, or still pending.
    Io pollConnect();

    // Writes all of `bytes`, reading whatever the server answers meanwhile.
    Io send(std::string_view bytes, Clock::time_point deadline);

    // Writes the pieces `next` gives (an empty one ends them) while reading; stops early once a
    // whole answer has arrived. `sent` counts the bytes written.
    Io stream(const std::function<std::string_view()>& next, Clock::time_point deadline,
              std::uint64_t& sent);

    // The next whole answer, waiting until the deadline; `io` says why there is none.
    std::optional<HttpAnswer> readAnswer(Clock::time_point deadline, Io& io);

    // Whether the server has closed or reset the connection, without waiting (data it sent is
    // kept for readAnswer).
    bool closedByPeer();

    // A whole answer already in the buffer, without reading more.
    bool hasAnswer() const;

private:
    // Reads what is there (waiting at most `waitMs`); ok, or closed/reset.
    Io receive(int waitMs);

    int fd_ = -1;
    bool peerGone_ = false;
    Io peerIo_ = Io::ok;
    std::string received_;
};

}  // namespace sayloft::bench
