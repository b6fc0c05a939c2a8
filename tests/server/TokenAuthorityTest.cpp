#include <limits>

#include <gtest/gtest.h>

#include "server/Base64Url.h"
#include "server/TokenAuthority.h"

namespace sayloft {
namespace {

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
    EXPECT_EQ(claims->deviceIdHex().size(), 32u);
    EXPECT_NE(authority.verify(authority.issue())->deviceIdHex(), claims->deviceIdHex());
    // Any other replica with the same secret accepts it; a stranger does not.
    EXPECT_TRUE(TokenAuthority(secretOf(7), 0, [this] { return now; }).verify(token));
    EXPECT_FALSE(TokenAuthority(secretOf(8), 0, [this] { return now; }).verify(token));
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
    };
    for (const auto& token : cases) {
        EXPECT_FALSE(authority.verify(token)) << token;
    }
    EXPECT_TRUE(authority.verify(good));
}

TEST_F(TokenAuthorityTest, ExpiresAfterTheMaximumAgeAndRefusesTheFarFuture) {
    const TokenAuthority aging(secretOf(7), 3600, [this] { return now; });
    const TokenAuthority::DeviceId id{1, 2, 3};
    EXPECT_TRUE(aging.verify(aging.issueFor(id, now - 3600)));
    EXPECT_FALSE(aging.verify(aging.issueFor(id, now - 3601)));
    EXPECT_TRUE(aging.verify(aging.issueFor(id, now + 300)));  // clock skew between replicas
    EXPECT_FALSE(aging.verify(aging.issueFor(id, now + 301)));
    // Without a maximum age an old token stays good.
    EXPECT_TRUE(authority.verify(authority.issueFor(id, 0)));
}

TEST_F(TokenAuthorityTest, ExtremeIssueTimesAndClocksAreJudgedWithoutOverflow) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    struct Row {
        std::int64_t now;
        std::int64_t issuedAt;
        std::int64_t maxAge;
        bool valid;
    };
    const Row rows[] = {
        {1'800'000'000, lowest, 3600, false},   // now - issuedAt overflows: far too old
        {1'800'000'000, lowest, 0, true},       // no maximum age: as old as it gets is fine
        {1'800'000'000, highest, 3600, false},  // far future
        {highest, highest, 3600, true},         // now + skew overflows
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

TEST(TokenAuthorityBearer, ExtractsTheTokenFromTheAuthorizationHeader) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"Bearer abc", "abc"},       {"bEARER abc", "abc"},       {"Bearer ", std::nullopt},
        {"Basic abc", std::nullopt}, {"Bearerabc", std::nullopt},
    };
    for (const auto& [header, expected] : cases) {
        EXPECT_EQ(TokenAuthority::bearerToken(header), expected) << header;
    }
}

TEST(Base64Url, RoundTripsEveryLengthAndRefusesNonCanonicalText) {
    std::vector<std::uint8_t> bytes;
    for (int n = 0; n < 40; ++n) {
        const auto text = Base64Url::encode(bytes);
        EXPECT_EQ(text.find_first_of("+/="), std::string::npos);
        EXPECT_EQ(Base64Url::decode(text), bytes);
        bytes.push_back(static_cast<std::uint8_t>(n * 37 + 200));
    }
    EXPECT_EQ(Base64Url::encode(std::vector<std::uint8_t>{0xfb, 0xff}), "-_8");
    EXPECT_FALSE(Base64Url::decode("A"));     // impossible length
    EXPECT_FALSE(Base64Url::decode("AB=="));  // padding
    EXPECT_FALSE(Base64Url::decode("AB+/"));  // the other alphabet
    EXPECT_FALSE(Base64Url::decode("AB"));    // stray bits: "AA" is the canonical text of {0}
    EXPECT_TRUE(Base64Url::decode("AA"));
}

}  // namespace
}  // namespace sayloft
