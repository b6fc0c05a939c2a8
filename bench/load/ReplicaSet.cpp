#include "ReplicaSet.h"

#include "WellBehavedClient.h"

namespace sayloft::bench {

ReplicaSet::ReplicaSet(int count, int decoders) {
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> args = {"--data-dir",          dataDir_.path().string(),
                                         "--rate-per-minute",   "100000",
                                         "--rate-burst",        "100000",
                                         "--register-per-hour", "100000",
                                         "--register-burst",    "1000"};
        if (decoders > 0) {
            args.insert(args.end(), {"--decoders", std::to_string(decoders)});
        }
        // One after the other: the first creates the token secret the others then read.
        servers_.push_back(std::make_unique<test::ServerProcess>(std::move(args), false));
    }
}

bool ReplicaSet::started(std::string& error) const {
    for (const auto& server : servers_) {
        if (!server->started()) {
            error = "sayloft-server did not start (" + test::ServerProcess::binary() + "):\n" +
                    server->output();
            return false;
        }
    }
    return true;
}

std::vector<std::string> ReplicaSet::registerTokens(int count) const {
    std::vector<std::string> tokens;
    for (int i = 0; i < count; ++i) {
        const auto token =
            WellBehavedClient::registerToken(servers_.front()->port(), WellBehavedClient::address);
        if (!token) {
            return {};
        }
        tokens.push_back(*token);
    }
    return tokens;
}

std::vector<pid_t> ReplicaSet::pids() const {
    std::vector<pid_t> pids;
    for (const auto& server : servers_) {
        pids.push_back(server->pid());
    }
    return pids;
}

}  // namespace sayloft::bench
