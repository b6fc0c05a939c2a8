#include "AttackTarget.h"

#include <exception>

#include "Attacks.h"
#include "RssWatch.h"
#include "WellBehavedClient.h"

namespace sayloft::bench {

bool AttackTarget::start(std::string& error) {
    server_.reset();
    try {
        server_ =
            std::make_unique<test::ServerProcess>(std::vector<std::string>{"--decoders", "1"});
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    if (!server_->started()) {
        error = "sayloft-server did not start (" + test::ServerProcess::binary() + "):\n" +
                server_->output();
        return false;
    }
    const auto client = WellBehavedClient::registerToken(port(), WellBehavedClient::address);
    const auto attacker = WellBehavedClient::registerToken(port(), Attacks::address);
    if (!client || !attacker) {
        error = "sayloft-server issued no token on POST /v1/register";
        return false;
    }
    clientToken_ = *client;
    attackerToken_ = *attacker;
    return true;
}

bool AttackTarget::alive() const {
    return server_ && RssWatch::read(server_->pid()).has_value();
}

}  // namespace sayloft::bench
