#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace sayloft {

// The body of a request that is still being produced while the request runs: a writer appends
// bytes and finally closes it, the transport takes them as the connection accepts them and sends
// them chunked (Transfer-Encoding: chunked); close() becomes the final zero chunk. Unbounded: a
// write never blocks, what the transport has not taken yet waits in memory.
//
// Threads: every member may be called from any thread. The transport registers a wakeup that the
// pipe calls (under its lock, so it never runs after being cleared) whenever there is something
// new to take, so that a transfer paused on an empty pipe resumes.
class RequestBodyPipe {
public:
    using Clock = std::chrono::steady_clock;

    // Appends bytes to the body. Ignored once closed.
    void write(std::string_view bytes);
    // Ends the body: the transport sends the final chunk once it has taken everything before it.
    // Harmless a second time.
    void close();

    // What one take gave the transport: up to the size asked for; no bytes and ended: the body is
    // complete; no bytes and not ended: nothing to send for now.
    struct Take {
        std::size_t bytes = 0;
        bool ended = false;
    };
    // Transport side: moves up to size bytes into out.
    Take take(char* out, std::size_t size);
    // Transport side: true when take() would give bytes or the end.
    bool readable() const;
    // Transport side: the function called when the pipe becomes readable; empty to clear it.
    void setWakeup(std::function<void()> wakeup);
    // Transport side: a byte of the answer arrived (counts as progress of the exchange).
    void noteAnswerProgress();

    bool closed() const;
    // When the exchange last moved: the transport took a byte of the body or received a byte of
    // the answer; the time of close() when nothing moved since.
    Clock::time_point lastProgress() const;

private:
    mutable std::mutex mutex_;
    std::string pending_;
    std::size_t consumed_ = 0;  // bytes of pending_ already taken
    bool closed_ = false;
    Clock::time_point lastProgress_{};
    std::function<void()> wakeup_;
};

}  // namespace sayloft
