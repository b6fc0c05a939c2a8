#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/RateLimiter.h"

namespace sayloft {

// Decides whether a POST /v1/register may have a new token.
//
// A local client (a loopback address, or a Unix socket connection: the empty address) is the
// person's own computer and needs no invitation. Any other client must present the service's
// invitation code; a service started without one gives no tokens to other computers at all.
//
// Limits: every attempt, local or not, admitted or not, spends from the bucket of its network
// (AddressPrefix: IPv4 /24, IPv6 /64), so that guesses of the code are slowed as much as
// registrations. Tokens given to non-local clients also spend from one total bucket per hour;
// local clients are exempt from it, so that strangers cannot lock the owner out.
//
// Thread-safe. The code is compared in constant time (digests of both sides), so neither its
// content nor its length leaks through timing.
class RegistrationGate {
public:
    struct Limits {
        double perNetworkPerHour = 10.0;
        double perNetworkBurst = 5.0;
        double totalPerHour = 100.0;  // also the total bucket's burst
    };

    struct Decision {
        bool allowed = false;
        int status = 200;                // 200 when allowed, else 403 or 429
        std::string message{};           // why it was refused, for the client's {"error": ...}
        double retryAfterSeconds = 0.0;  // 429 only
    };

    // invite: the code from --invite-file; nullopt: non-local registration is refused.
    RegistrationGate(Limits limits, std::optional<std::string> invite, RateLimiter::Clock clock);

    // remoteAddress: the client's numeric address text, empty for a Unix socket connection.
    // presented: the Sayloft-Invite header's value, nullopt when the request had none.
    Decision admit(std::string_view remoteAddress, std::optional<std::string_view> presented);

private:
    bool matches(std::string_view presented) const;

    std::optional<std::string> invite_;
    RateLimiter perNetwork_;
    RateLimiter total_;
};

}  // namespace sayloft
