#pragma once

#include <string>

#include "AttackOutcome.h"
#include "AttackSizes.h"

namespace sayloft::bench {

// The attacks on a running sayloft-server, each from the source address 127.0.0.2 and each
// bounded in time by the sizes' deadline. Every attack closes its connections before it returns.
class Attacks {
public:
    static constexpr const char* address = "127.0.0.2";

    // `token`: one the server issued to the attacker, for the attacks that carry one.
    Attacks(int port, std::string token, AttackSizes sizes);

    // A multipart body of uploadBytes in 64 KiB chunks to /v1/transcribe.
    AttackOutcome chunkedUpload(bool withToken);
    // A small gzip body that inflates to inflatedBytes, to /v1/transcribe with the token.
    AttackOutcome gzipBomb();
    // GET /health with headerCount headers of headerBytes each.
    AttackOutcome manyHeaders();
    // slowConnections held for slowHold: half send their request one byte a second, half
    // send nothing.
    AttackOutcome slowConnections();
    // Two GET /health in one write: both answered, in order (the second asks to close).
    AttackOutcome pipelined();
    // The median GET /health on one kept-alive connection against a new connection each time
    // (the goal: reused no slower than new beyond 2 ms).
    AttackOutcome keepAliveLatency();
    // backlogConnects connections opened at once that send nothing, held for backlogHold.
    AttackOutcome backlog();

private:
    int port_;
    std::string token_;
    AttackSizes sizes_;
};

}  // namespace sayloft::bench
