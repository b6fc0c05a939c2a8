#pragma once

#include <chrono>
#include <cstdint>

namespace sayloft::bench {

// How big each attack is: the full sizes, or a few percent of them for a smoke run.
struct AttackSizes {
    std::uint64_t uploadBytes = 200ull << 20;    // chunked body
    std::uint64_t inflatedBytes = 200ull << 20;  // what the gzip body inflates to
    int headerCount = 100000;
    int headerBytes = 2048;  // each header line, CRLF included
    int slowConnections = 200;
    std::chrono::seconds slowHold{20};
    int latencyRequests = 200;  // per way of connecting
    int backlogConnects = 300;
    std::chrono::seconds backlogHold{5};
    // No attack's own exchange waits longer than this for the server.
    std::chrono::seconds deadline{20};

    static AttackSizes full() { return {}; }
    static AttackSizes quick() {
        AttackSizes sizes;
        sizes.uploadBytes = 8ull << 20;
        sizes.inflatedBytes = 8ull << 20;
        sizes.headerCount = 2000;
        sizes.slowConnections = 20;
        sizes.slowHold = std::chrono::seconds(3);
        sizes.latencyRequests = 50;
        sizes.backlogConnects = 50;
        sizes.backlogHold = std::chrono::seconds(1);
        sizes.deadline = std::chrono::seconds(10);
        return sizes;
    }
};

}  // namespace sayloft::bench
