#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace sayloft::bench {

// sayloft-server replicas on 127.0.0.1 and free ports, sharing one temporary data folder (so one
// token secret: a token any of them issued is good on all), with the limits per token and per
// network raised far above what the load makes, so that the figures are the recogniser's.
class ReplicaSet {
public:
    // decoders 0: the server's default (one per core).
    ReplicaSet(int count, int decoders);
    ReplicaSet(const ReplicaSet&) = delete;
    ReplicaSet& operator=(const ReplicaSet&) = delete;

    // Whether every replica is listening; `error` says which did not and why.
    bool started(std::string& error) const;
    // `count` new tokens, registered on the first replica; empty when it refused one.
    std::vector<std::string> registerTokens(int count) const;

    int size() const { return static_cast<int>(servers_.size()); }
    test::ServerProcess& at(int index) { return *servers_.at(static_cast<std::size_t>(index)); }
    std::vector<pid_t> pids() const;

private:
    test::TempDir dataDir_;
    std::vector<std::unique_ptr<test::ServerProcess>> servers_;
};

}  // namespace sayloft::bench
