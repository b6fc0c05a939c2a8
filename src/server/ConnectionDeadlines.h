#pragma once

#include <chrono>
#include <cstdint>

namespace sayloft {

// When the service gives up on a connection: the pure rules the connection watchdog applies on
// each of its rounds, so that one client cannot hold a connection (and its thread) for free.
//
// A connection is always in one stage:
//   waiting  between requests (or since it was accepted), no byte of the next request seen;
//   head     the next request's first byte was seen, its headers are not complete yet;
//   body     the headers are complete and the body is arriving (within the request's own
//            deadline, when its route gave one: a stream of live audio);
//   working  the body is complete: the service works on the answer or sends it. No deadline
//            here: recognition has its own queue time-out, and the HTTP library's own
//            connection time-out covers a client that does not read its answer.
struct ConnectionDeadlines {
    using Clock = std::chrono::steady_clock;

    struct Limits {
        // Request line and headers, from their first byte.
        std::chrono::milliseconds head{10'000};
        // A body may take this long before its pace is judged...
        std::chrono::milliseconds bodyGrace{10'000};
        // ...then it must have arrived at this average rate, counted from the end of the headers
        // (a live 16 kHz 16-bit stream sends 32 KiB/s).
        double minBodyBytesPerSecond = 4096;
        // Keep-alive: how long a connection may wait for its next request; the short one while
        // the service is busy (many connections open).
        std::chrono::milliseconds idle{65'000};
        std::chrono::milliseconds busyIdle{5'000};
    };

    enum class Stage { waiting, head, body, working };

    struct Observation {
        Stage stage = Stage::waiting;
        Clock::time_point since{};  // when the stage began
        std::uint64_t bodyBytes{};  // stage body: bytes received so far
        // Stage body: how long the request may take from its headers; zero: no such limit.
        std::chrono::milliseconds requestDeadline{};
    };

    enum class Verdict { keep, idle, headTooSlow, bodyTooSlow, requestTooLong, stopping };

    // busy: the service has many connections open; stopping: it drains for a stop, so a
    // connection waiting for its next request is closed at once.
    static Verdict judge(const Observation& connection, Clock::time_point now, const Limits& limits,
                         bool busy, bool stopping);

    // A few words for the access log ("header deadline").
    static const char* describe(Verdict verdict);
};

}  // namespace sayloft
