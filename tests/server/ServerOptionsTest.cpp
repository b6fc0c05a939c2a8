// The service's settings: its command line, the trusted proxies it names, the recogniser's
// search settings and the chaos list.

#include <map>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include "server/ChaosPlan.h"
#include "server/RecognizerSettings.h"
#include "server/ServerOptions.h"

namespace sayloft {
namespace {

std::optional<ServerOptions> parse(std::vector<std::string_view> args, std::string* error) {
    return ServerOptions::parse(args, "/data/default", error);
}

// The peer's socket address, as accept() gives it (IPv4 or IPv6 family by the text).
sockaddr_storage peer(const char* text) {
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (::inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return address;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    EXPECT_EQ(::inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
    v6->sin6_family = AF_INET6;
    return address;
}

TEST(ServerOptions, ReadsEveryValueInBothSpellings) {
    std::string error;
    const auto o =
        parse({"--port=0", "--data-dir", "/d", "--rate-per-minute", "2.5", "--crash-total-mib", "2",
               "--raw-text", "--stream-decoders=0", "--max-queued-seconds=90.5",
               "--per-token-requests", "3", "--replica", "r-2"},
              &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->port, 0);
    EXPECT_DOUBLE_EQ(o->ratePerMinute, 2.5);
    EXPECT_EQ(o->crashTotalBytes, 2u * 1024 * 1024);
    EXPECT_TRUE(o->rawText);
    EXPECT_EQ(o->streamDecoders, 0u);
    EXPECT_DOUBLE_EQ(o->maxQueuedSeconds, 90.5);
    EXPECT_EQ(o->perTokenRequests, 3u);
    EXPECT_EQ(o->crashDir(), "/d/crash-reports/r-2");  // a replica keeps its own crash reports
    EXPECT_EQ(parse({}, &error)->crashDir(), "/data/default/crash-reports");
}

TEST(ServerOptions, AcceptsWhatCanWorkAndRefusesTheRestWithAReason) {
    const std::string socket = "--unix-socket=/run/user/1/sayloft/server.sock";
    struct Row {
        std::vector<std::string_view> args;
        std::string reason;  // "" when accepted
        bool tcp = true;
    };
    const Row rows[] = {
        {{}, ""},
        {{socket}, "", false},  // a Unix socket alone is the only listener
        {{socket, "--port", "8177"}, ""},
        {{"--host", "127.0.0.1", socket}, ""},
        {{"--host", "127.1.2.3"}, ""},
        {{"--host", "::1"}, ""},
        {{"--host", "localhost"}, ""},
        {{"--host", "0.0.0.0", "--cert", "c", "--key", "k"}, ""},
        {{"--bogus"}, "unknown option"},
        {{"--port"}, "needs a value"},
        {{"--port", "70000"}, "--port"},
        {{"--rate-per-minute", "0"}, "--rate-per-minute"},
        {{"--decoders", "x"}, "--decoders"},
        {{"--max-connections", "1"}, "--max-connections"},
        {{"--host", "0.0.0.0"}, "refusing to serve plain HTTP"},
        {{"--host", "128.0.0.1"}, "refusing to serve plain HTTP"},
        {{"--host", "localhost.example"}, "refusing to serve plain HTTP"},
        {{"--cert", "c.pem"}, "--cert and --key"},
        {{"--host", "0.0.0.0", "--cert", "c", "--key", "k", "--chaos", "503=1"}, "loopback"},
        {{"--upstream", "ftp://x"}, "--upstream"},
        {{"--unix-socket", "relative.sock"}, "absolute"},
        {{"--token-max-age-days", "106751991167301"}, "too large"},
        {{"--replica", ".."}, "--replica"},
        {{"--search", "hmm=/tmp/model"}, "--search: unknown search setting 'hmm'"},
        {{"--search", "lw=9 beam"}, "'beam' is not name=value"},
        {{"--search", "lw=nine"}, "value 'nine' for search setting lw (a number from 0.1 to 100)"},
        {{"--search", "beam=1e-10"}, "(a number from 1e-300 to 1e-15)"},
        {{"--search", "bestpath=1"}, "(yes or no)"},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto o = parse(row.args, &error);
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;  // "": any error
        ASSERT_EQ(o.has_value(), row.reason.empty()) << error;
        if (o) {
            EXPECT_EQ(o->tcp, row.tcp) << row.args.size();
        }
    }
}

TEST(TrustedProxies, MatchesExactAddressesAndPrefixes) {
    std::string error;
    const auto o = parse({"--trusted-proxy", "127.0.0.1,10.1.0.0/16,192.168.7.128/25",
                          "--trusted-proxy=2001:db8::/32,::1"},
                         &error);
    ASSERT_TRUE(o) << error;
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},         {"127.0.0.2", false},    {"10.1.255.3", true},
        {"10.2.0.1", false},         {"192.168.7.200", true}, {"192.168.7.127", false},
        {"2001:db8:5::1", true},     {"2001:db9::1", false},  {"::1", true},
        {"::ffff:127.0.0.1", true},  // an IPv4 peer on an IPv6 socket
        {"::ffff:127.0.0.3", false}, {"::2", false},
    };
    for (const auto& [address, expected] : rows) {
        const sockaddr_storage p = peer(address);
        EXPECT_EQ(o->trustedProxies.trusts(reinterpret_cast<const sockaddr*>(&p)), expected)
            << address;
    }
    EXPECT_TRUE(parse({}, &error)->trustedProxies.empty());
    for (const char* list :
         {"", "proxy.example", "::1/129", "10.0.0.0/33", "10.0.0.1/x", "127.0.0.1,,::1"}) {
        EXPECT_FALSE(parse({"--trusted-proxy", list}, &error)) << list;
    }
}

TEST(RecognizerSettings, AssignmentsBecomeDecoderArgumentsInOrder) {
    RecognizerSettings settings;
    EXPECT_EQ(settings.describe(), "pocketsphinx defaults");
    ASSERT_TRUE(settings.apply("beam=1e-60, lw=9\twip=0.2", nullptr));
    ASSERT_TRUE(settings.apply("lw=10 fwdflat=no", nullptr));
    EXPECT_EQ(settings.arguments(), (std::vector<std::string>{"-beam", "1e-60", "-lw", "10", "-wip",
                                                              "0.2", "-fwdflat", "no"}));
    EXPECT_EQ(settings.describe(), "beam=1e-60 lw=10 wip=0.2 fwdflat=no");
    EXPECT_EQ(settings.value("lw"), "10");
    EXPECT_EQ(settings.value("pbeam"), std::nullopt);
    EXPECT_FALSE(settings.apply("lw=11 beam", nullptr));  // refused as a whole
    EXPECT_EQ(settings.describe(), "beam=1e-60 lw=10 wip=0.2 fwdflat=no");
}

TEST(ChaosPlan, DrawsEachFaultAboutAsOftenAsAskedAndTheSameForOneSeed) {
    const char* list = "stall=0.1,stall-seconds=2.5,reset=0.1,503=0.2,401=0.05,429=0.05,json=0.1";
    auto plan = ChaosPlan::parse(list, 42, nullptr);
    auto again = ChaosPlan::parse(list, 42, nullptr);
    ASSERT_TRUE(plan && again);
    EXPECT_DOUBLE_EQ(plan->stallSeconds(), 2.5);
    std::map<ChaosFault, int> seen;
    constexpr int draws = 20000;
    for (int i = 0; i < draws; ++i) {
        const auto fault = plan->pick();
        ++seen[fault];
        ASSERT_EQ(again->pick(), fault) << i;
    }
    const std::pair<ChaosFault, double> expected[] = {
        {ChaosFault::none, 0.4},          {ChaosFault::stall, 0.1},
        {ChaosFault::reset, 0.1},         {ChaosFault::unavailable, 0.2},
        {ChaosFault::unauthorized, 0.05}, {ChaosFault::rateLimited, 0.05},
        {ChaosFault::malformedJson, 0.1},
    };
    for (const auto& [fault, share] : expected) {
        EXPECT_NEAR(seen[fault] / static_cast<double>(draws), share, 0.015)
            << static_cast<int>(fault);
    }
    EXPECT_EQ(ChaosPlan::parse("", 7, nullptr)->pick(), ChaosFault::none);
}

}  // namespace
}  // namespace sayloft
