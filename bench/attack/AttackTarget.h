#pragma once

#include <memory>
#include <string>

#include "ServerProcess.h"

namespace sayloft::bench {

// The sayloft-server under attack: a child process on 127.0.0.1 and a free port with a
// temporary data folder and one decoder, with a token for the well-behaved client (registered
// from 127.0.0.1) and one for the attacker (from 127.0.0.2).
class AttackTarget {
public:
    // Stops the server started before, if any, and starts a new one; false (and `error` says
    // why) when it did not start or issued no tokens.
    bool start(std::string& error);
    // Whether the process is still running.
    bool alive() const;

    int port() const { return server_->port(); }
    pid_t pid() const { return server_->pid(); }
    const std::string& clientToken() const { return clientToken_; }
    const std::string& attackerToken() const { return attackerToken_; }

private:
    std::unique_ptr<test::ServerProcess> server_;
    std::string clientToken_, attackerToken_;
};

}  // namespace sayloft::bench
