#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "server/RegistrationGate.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;

constexpr const char* code = "9d2f4b7c1e8a6053";

struct Attempt {
    const char* address;
    std::optional<std::string> invite;
    int status;
    const char* says = "";
};

struct RegistrationGateTest : ::testing::Test {
    std::chrono::steady_clock::time_point now{};
    RateLimiter::Clock clock = [this] { return now; };

    static void expect(RegistrationGate& gate, const Attempt& a) {
        const std::optional<std::string_view> invite =
            a.invite ? std::optional<std::string_view>(*a.invite) : std::nullopt;
        const auto decision = gate.admit(a.address, invite);
        const std::string context = std::string(a.address) + " " + a.invite.value_or("-");
        EXPECT_EQ(decision.status, a.status) << context;
        EXPECT_EQ(decision.allowed, a.status == 200) << context;
        EXPECT_NE(decision.message.find(a.says), std::string::npos)
            << context << ": " << decision.message;
        EXPECT_EQ(decision.retryAfterSeconds > 0, a.status == 429) << context;
    }
};

TEST_F(RegistrationGateTest, OtherComputersNeedTheCodeAndEveryNetworkAndTheTotalAreLimited) {
    RegistrationGate gate({.perNetworkPerHour = 10, .perNetworkBurst = 2, .totalPerHour = 3}, code,
                          clock);
    const std::string wrongs[] = {"9d2f4b7c1e8a605", std::string(code) + "0", ""};
    const Attempt attempts[] = {
        {"127.0.0.1", std::nullopt, 200},
        {"", std::nullopt, 200},  // a Unix socket connection
        {"::1", "anything", 200},
        {"10.0.0.5", std::nullopt, 403, "ask the service's operator"},
        {"10.0.0.6", wrongs[0], 403, "not right"},
        // Every attempt spent from 10.0.0.0/24, wrong ones too: guesses are slowed.
        {"10.0.0.7", code, 429, "this network"},
        {"::ffff:10.0.0.8", code, 429, "this network"},
        {"10.0.1.1", wrongs[1], 403, "not right"},
        {"10.0.1.1", code, 200},
        {"2001:db8::1", wrongs[2], 403, "not right"},
        {"2001:db8::2", code, 200},
        {"10.0.2.1", code, 200},
        {"2001:db8:0:1::1", code, 429, "last hour"},  // the total of three is spent
        {"127.0.0.2", std::nullopt, 200},             // the owner is not locked out
    };
    for (const Attempt& attempt : attempts) {
        expect(gate, attempt);
    }
    now += 1200s;  // a third of an hour gives back one token of the total
    expect(gate, {"2001:db8:0:1::1", code, 200});
    expect(gate, {"2001:db8:0:2::1", code, 429, "last hour"});
}

TEST_F(RegistrationGateTest, WithoutAnInvitationOnlyThisComputerRegisters) {
    RegistrationGate gate({}, std::nullopt, clock);
    expect(gate, {"192.0.2.7", code, 403, "--invite-file"});
    expect(gate, {"192.0.2.8", std::nullopt, 403, "--invite-file"});
    expect(gate, {"127.0.0.1", std::nullopt, 200});
    expect(gate, {"", std::nullopt, 200});
}

TEST_F(RegistrationGateTest, LocalClientsStillHaveTheirNetworksBucket) {
    RegistrationGate gate({.perNetworkPerHour = 1, .perNetworkBurst = 2, .totalPerHour = 100}, code,
                          clock);
    for (const char* address : {"127.0.0.1", "127.0.0.9"}) {
        expect(gate, {address, std::nullopt, 200});
    }
    expect(gate, {"127.0.0.1", std::nullopt, 429, "this network"});
    expect(gate, {"", std::nullopt, 200});  // the socket is a network of its own
}

}  // namespace
}  // namespace sayloft
