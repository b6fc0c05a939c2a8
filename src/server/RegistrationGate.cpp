#include "server/RegistrationGate.h"

#include <algorithm>
#include <array>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "server/AddressPrefix.h"

namespace sayloft {
namespace {

using Digest = std::array<unsigned char, 32>;

Digest sha256(std::string_view text) {
    Digest digest{};
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

RegistrationGate::Decision refuse(int status, std::string message, double retryAfter = 0.0) {
    return {false, status, std::move(message), retryAfter};
}

}  // namespace

RegistrationGate::RegistrationGate(Limits limits, std::optional<std::string> invite,
                                   RateLimiter::Clock clock)
    : invite_(std::move(invite)),
      perNetwork_(limits.perNetworkPerHour / 3600.0, limits.perNetworkBurst, clock),
      total_(limits.totalPerHour / 3600.0, std::max(1.0, limits.totalPerHour), clock) {
}

bool RegistrationGate::matches(std::string_view presented) const {
    const Digest expected = sha256(*invite_);
    const Digest given = sha256(presented);
    return CRYPTO_memcmp(expected.data(), given.data(), expected.size()) == 0;
}

RegistrationGate::Decision RegistrationGate::admit(std::string_view remoteAddress,
                                                   std::optional<std::string_view> presented) {
    const bool local = remoteAddress.empty() || AddressPrefix::isLoopback(remoteAddress);
    const std::string network =
        remoteAddress.empty() ? std::string("unix") : AddressPrefix::keyOf(remoteAddress);
    if (const auto spent = perNetwork_.acquire(network); !spent.allowed) {
        return refuse(429, "too many registrations from this network; try again later",
                      spent.retryAfterSeconds);
    }
    if (local) {
        return {true, 200, {}, 0.0};
    }
    if (!invite_) {
        return refuse(403,
                      "registration needs an invitation: this service gives tokens to other "
                      "computers only when its operator starts it with --invite-file");
    }
    if (!presented) {
        return refuse(403,
                      "registration needs an invitation: ask the service's operator for an "
                      "invitation code (sayloft-cli register --invite CODE)");
    }
    if (!matches(*presented)) {
        return refuse(403,
                      "the invitation code is not right: ask the service's operator for the "
                      "current one");
    }
    if (const auto spent = total_.acquire("all"); !spent.allowed) {
        return refuse(429, "too many new tokens were given out in the last hour; try again later",
                      spent.retryAfterSeconds);
    }
    return {true, 200, {}, 0.0};
}

}  // namespace sayloft
