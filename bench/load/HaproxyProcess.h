#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace sayloft::bench {

// HAProxy in the foreground (-db) as a child process, in front of replicas on 127.0.0.1. The
// configuration reads its ports from the environment, which this class sets:
//   SAYLOFT_BENCH_PORT       the port to listen on (127.0.0.1), chosen free here
//   SAYLOFT_REPLICA1_PORT    the first replica
//   SAYLOFT_REPLICA2_PORT    the second, defined only when there are two (".if defined(...)")
// bench/load/haproxy-bench.cfg is one such configuration.
class HaproxyProcess {
public:
    HaproxyProcess(const std::string& config, const std::vector<int>& replicaPorts);
    ~HaproxyProcess();
    HaproxyProcess(const HaproxyProcess&) = delete;
    HaproxyProcess& operator=(const HaproxyProcess&) = delete;

    // Waits (bounded) until GET /health through HAProxy answers 200 and every replica is up
    // in its checks; false (and `error` says why) when it did not.
    bool ready(std::string& error);
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Whether `haproxy` can be run here.
    static bool available();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_;  // its standard error, in a temporary file
};

}  // namespace sayloft::bench
