#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "server/ServerOptions.h"

namespace sayloft {
namespace {

std::optional<ServerOptions> parse(std::vector<std::string_view> args, std::string* error) {
    return ServerOptions::parse(args, "/data/default", error);
}

TEST(ServerOptions, DefaultsServeOnlyThisComputer) {
    std::string error;
    const auto o = parse({}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->host, "127.0.0.1");
    EXPECT_EQ(o->dataDir, "/data/default");
    EXPECT_FALSE(o->tls());
}

TEST(ServerOptions, ReadsEveryValueInBothSpellings) {
    std::string error;
    const auto o = parse({"--port=0", "--data-dir", "/d", "--rate-per-minute", "2.5",
                          "--crash-total-mib", "2", "--raw-text", "--stream-decoders=0",
                          "--max-queued-seconds=90.5", "--per-token-requests", "3"},
                         &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->port, 0);
    EXPECT_EQ(o->dataDir, "/d");
    EXPECT_DOUBLE_EQ(o->ratePerMinute, 2.5);
    EXPECT_EQ(o->crashTotalBytes, 2u * 1024 * 1024);
    EXPECT_TRUE(o->rawText);
    EXPECT_EQ(o->streamDecoders, 0u);
    EXPECT_DOUBLE_EQ(o->maxQueuedSeconds, 90.5);
    EXPECT_EQ(o->perTokenRequests, 3u);
}

TEST(ServerOptions, AUnixSocketAloneIsTheOnlyListenerAndBesideAPortAnother) {
    const std::pair<std::vector<std::string_view>, bool> cases[] = {
        {{}, true},
        {{"--unix-socket", "/run/user/1/sayloft/server.sock"}, false},
        {{"--unix-socket", "/run/user/1/sayloft/server.sock", "--port", "8177"}, true},
        {{"--host", "127.0.0.1", "--unix-socket=/run/user/1/sayloft/server.sock"}, true},
    };
    for (const auto& [args, tcp] : cases) {
        std::string error;
        const auto o = parse(args, &error);
        ASSERT_TRUE(o) << error;
        EXPECT_EQ(o->tcp, tcp) << args.size();
        EXPECT_EQ(o->unixSocket.empty(), args.empty());
    }
}

TEST(ServerOptions, RefusesWhatCannotWorkWithAReason) {
    const std::pair<std::vector<std::string_view>, std::string> cases[] = {
        {{"--bogus"}, "unknown option"},
        {{"--port"}, "needs a value"},
        {{"--port", "70000"}, "--port"},
        {{"--rate-per-minute", "0"}, "--rate-per-minute"},
        {{"--decoders", "x"}, "--decoders"},
        {{"--max-connections", "1"}, "--max-connections"},
        {{"--host", "0.0.0.0"}, "refusing to serve plain HTTP"},
        {{"--cert", "c.pem"}, "--cert and --key"},
        {{"--host", "0.0.0.0", "--cert", "c", "--key", "k", "--chaos", "503=1"}, "loopback"},
        {{"--upstream", "ftp://x"}, "--upstream"},
        {{"--unix-socket", "relative.sock"}, "absolute"},
        {{"--token-max-age-days", "106751991167301"}, "too large"},
        {{"--trusted-proxy", "10.0.0.0/33"}, "--trusted-proxy"},
        {{"--replica", ".."}, "--replica"},
    };
    for (const auto& [args, reason] : cases) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args.front();
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(ServerOptions, ReplicasTrustTheirProxiesAndKeepTheirOwnCrashReports) {
    std::string error;
    const auto o = parse({"--trusted-proxy", "127.0.0.1", "--trusted-proxy=10.0.0.0/8,::1",
                          "--replica", "r-2", "--data-dir", "/d"},
                         &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->crashDir(), "/d/crash-reports/r-2");
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    for (const auto& [address, trusted] :
         {std::pair{"127.0.0.1", true}, {"10.200.0.1", true}, {"127.0.0.2", false}}) {
        ::inet_pton(AF_INET, address, &peer.sin_addr);
        EXPECT_EQ(o->trustedProxies.trusts(reinterpret_cast<sockaddr*>(&peer)), trusted) << address;
    }
    const auto plain = parse({"--data-dir", "/d"}, &error);
    ASSERT_TRUE(plain) << error;
    EXPECT_TRUE(plain->trustedProxies.empty());
    EXPECT_EQ(plain->crashDir(), "/d/crash-reports");
}

TEST(ServerOptions, LoopbackHosts) {
    for (const char* host : {"127.1.2.3", "::1", "localhost"}) {
        EXPECT_TRUE(ServerOptions::isLoopbackHost(host)) << host;
    }
    for (const char* host : {"0.0.0.0", "128.0.0.1", "localhost.example"}) {
        EXPECT_FALSE(ServerOptions::isLoopbackHost(host)) << host;
    }
    std::string error;
    EXPECT_TRUE(parse({"--host", "0.0.0.0", "--cert", "c", "--key", "k"}, &error)) << error;
}

}  // namespace
}  // namespace sayloft
