// Who may use the service: the tokens it issues, who may register for one (the invitation code,
// the rate limits per network and in total), and the token buckets underneath.

#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/net/InviteCode.h"
#include "server/Base64Url.h"
#include "server/RegistrationGate.h"
#include "server/TokenAuthority.h"

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
        {"2001:db8:0:1::1", code, 429, "last hour"},       // the total of three is spent
        {"127.0.0.2", std::nullopt, 200},                  // the owner is not locked out
        {"127.0.0.9", std::nullopt, 429, "this network"},  // but has a network's bucket
        {"", std::nullopt, 200},                           // the socket is a network of its own
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

using RateLimiterTest = RegistrationGateTest;

TEST_F(RateLimiterTest, RefillsAtTheRateUpToTheBurstAndForgetsIdleKeys) {
    RateLimiter limiter(0.5, 2, clock, 2);  // a request every two seconds, two at once, two keys
    const auto refusedFor = [&](const char* key) {
        const auto decision = limiter.acquire(key);
        return decision.allowed ? -1.0 : decision.retryAfterSeconds;
    };
    EXPECT_EQ(refusedFor("a"), -1.0);
    EXPECT_EQ(refusedFor("a"), -1.0);
    EXPECT_NEAR(refusedFor("a"), 2.0, 1e-9);
    EXPECT_EQ(refusedFor("b"), -1.0);
    EXPECT_GT(refusedFor("c"), 0.0);  // every bucket in use: refused rather than tracked
    now += 1s;
    EXPECT_NEAR(refusedFor("a"), 1.0, 1e-9);
    now += 1h;  // refilled only up to the burst
    EXPECT_EQ(refusedFor("a"), -1.0);
    EXPECT_EQ(refusedFor("a"), -1.0);
    EXPECT_GT(refusedFor("a"), 0.0);
    EXPECT_EQ(refusedFor("c"), -1.0);  // b's idle bucket makes room
    EXPECT_EQ(limiter.trackedKeys(), 2u);
}

TEST(InviteCode, LoadsOneCodeOnOneLineFromAPrivateFile) {
    namespace fs = std::filesystem;
    const test::TempHome home;
    const std::string good = code;
    struct Row {
        const char* name;
        std::string content;
        fs::perms perms;
        std::optional<std::string> expected;
        const char* complaint = "";
    };
    const Row rows[] = {
        {"newline", good + "\n", fs::perms(0640), good},
        {"longest", std::string(256, 'k') + "\n", fs::perms(0600), std::string(256, 'k')},
        {"empty", "", fs::perms(0600), std::nullopt, "is empty"},
        {"just over", std::string(257, 'k'), fs::perms(0600), std::nullopt, "longer than"},
        {"two lines", good + "\n" + good + "\n", fs::perms(0600), std::nullopt, "one line"},
        {"short", "abc123", fs::perms(0600), std::nullopt, "at least 16"},
        {"world readable", good, fs::perms(0644), std::nullopt, "chmod 600"},
        {"accented", "caf\xc3\xa9-3f9c1a7e5b2d4c6a", fs::perms(0600), std::nullopt, ""},
        {"punctuated", "p@ss/w0rd+!~3f9c-1a7e_5b2d.4c6a", fs::perms(0600),
         "p@ss/w0rd+!~3f9c-1a7e_5b2d.4c6a"},
    };
    for (const Row& row : rows) {
        const auto file = home.write(row.name, row.content, row.perms);
        std::string error;
        EXPECT_EQ(InviteCode::load(file, &error), row.expected) << row.name;
        EXPECT_NE(error.find(row.complaint), std::string::npos) << row.name << ": " << error;
        if (!row.expected) {
            EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        }
    }
    std::string error;
    EXPECT_FALSE(InviteCode::load(home.path() / "absent", &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    EXPECT_FALSE(InviteCode::load(home.path(), &error));  // a folder
}

TokenAuthority::Secret secretOf(std::uint8_t fill) {
    TokenAuthority::Secret s{};
    s.fill(fill);
    return s;
}

struct TokenAuthorityTest : ::testing::Test {
    std::int64_t now = 1'800'000'000;
    TokenAuthority authority{secretOf(7), 0, [this] { return now; }};
};

TEST_F(TokenAuthorityTest, IssuedTokenVerifiesWithItsDeviceIdAndTimeOnEveryReplica) {
    const auto token = authority.issue();
    EXPECT_EQ(token.size(), 80u);
    EXPECT_TRUE(token.starts_with("sl1."));
    const auto claims = authority.verify(token);
    ASSERT_TRUE(claims);
    EXPECT_EQ(claims->issuedAt, now);
    EXPECT_NE(authority.verify(authority.issue())->deviceIdHex(), claims->deviceIdHex());
    // Any other replica with the same secret accepts it.
    EXPECT_TRUE(TokenAuthority(secretOf(7), 0, [this] { return now; }).verify(token));
}

TEST_F(TokenAuthorityTest, RefusesEveryAlteredOrMalformedToken) {
    const std::string good = authority.issue();
    std::string flippedPayload = good;
    flippedPayload[6] = flippedPayload[6] == 'A' ? 'B' : 'A';
    std::string flippedMac = good;
    flippedMac.back() = flippedMac.back() == 'A' ? 'B' : 'A';
    // A genuine MAC over a different payload: the device id of another token.
    const std::string other = authority.issue();
    const std::string spliced =
        other.substr(0, other.find('.', 4)) + good.substr(good.find('.', 4));
    const std::string cases[] = {
        "",
        "sl1..",
        good.substr(0, good.size() - 1),
        "sl2" + good.substr(3),
        flippedPayload,
        flippedMac,
        spliced,
        good.substr(0, good.find('.', 4)),
        TokenAuthority(secretOf(8), 0, [this] { return now; }).issue(),  // a stranger's
    };
    for (const auto& token : cases) {
        EXPECT_FALSE(authority.verify(token)) << token;
    }
    EXPECT_TRUE(authority.verify(good));
}

TEST_F(TokenAuthorityTest, JudgesTheAgeWithoutOverflowForEveryIssueTimeAndClock) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    struct Row {
        std::int64_t now, issuedAt, maxAge;
        bool valid;
    };
    const Row rows[] = {
        {now, now - 3600, 3600, true},  // exactly the maximum age
        {now, now - 3601, 3600, false},
        {now, now + 300, 3600, true},  // clock skew between replicas
        {now, now + 301, 3600, false},
        {now, 0, 0, true},               // without a maximum age an old token stays good
        {now, lowest, 3600, false},      // now - issuedAt overflows: far too old
        {now, lowest, 0, true},          // no maximum age: as old as it gets is fine
        {now, highest, 3600, false},     // far future
        {highest, highest, 3600, true},  // now + skew overflows
        {lowest, highest, 3600, false},
        {0, lowest, highest, false},  // an age of more than INT64_MAX
        {-1, lowest, highest, true},  // an age of exactly INT64_MAX
    };
    const TokenAuthority::DeviceId id{9};
    for (const Row& row : rows) {
        const TokenAuthority judge(secretOf(7), row.maxAge, [&row] { return row.now; });
        EXPECT_EQ(judge.verify(judge.issueFor(id, row.issuedAt)).has_value(), row.valid)
            << row.now << " " << row.issuedAt << " " << row.maxAge;
    }
}

TEST(TokenAuthoritySecret, IsPrivateStableRotatableAndRefusedWhenOthersMayReadIt) {
    const test::TempHome home;
    const auto data = home.path() / "data";
    const auto file = data / TokenAuthority::secretFileName;
    std::string error;
    const auto first = TokenAuthority::loadOrCreateSecret(data, &error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(TokenAuthority::loadOrCreateSecret(data, &error), first);
    ASSERT_TRUE(TokenAuthority::rotateSecret(data, &error)) << error;
    EXPECT_NE(TokenAuthority::loadOrCreateSecret(data, &error), first);
    std::filesystem::permissions(file, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(TokenAuthority::loadOrCreateSecret(data, &error));
    EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
}

TEST(TokenAuthorityBearer, ExtractsTheTokenFromTheAuthorizationHeader) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"Bearer abc", "abc"},       {"bEARER abc", "abc"},       {"Bearer ", std::nullopt},
        {"Basic abc", std::nullopt}, {"Bearerabc", std::nullopt},
    };
    for (const auto& [header, expected] : cases) {
        EXPECT_EQ(TokenAuthority::bearerToken(header), expected) << header;
    }
}

// fuzz_token checks that whatever text decodes encodes back to the same text.
TEST(Base64Url, EncodesWithoutPaddingAndRefusesNonCanonicalText) {
    const std::vector<std::uint8_t> bytes{0xfb, 0xff};
    EXPECT_EQ(Base64Url::encode(bytes), "-_8");
    EXPECT_EQ(Base64Url::decode("-_8"), bytes);
    // An impossible length, padding, the other alphabet, stray bits ("AA" is the text of {0}).
    for (const char* text : {"A", "AB==", "AB+/", "AB"}) {
        EXPECT_FALSE(Base64Url::decode(text)) << text;
    }
    EXPECT_TRUE(Base64Url::decode("AA"));
}

}  // namespace
}  // namespace sayloft
