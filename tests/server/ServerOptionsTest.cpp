#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "server/ServerOptions.h"

namespace sayloft {
namespace {

std::optional<ServerOptions> parse(std::vector<std::string_view> args, std::string* error) {
    return ServerOptions::parse(args, "/data/default", error);
}

TEST(ServerOptions, DefaultsServeOnlyThisComputerOnThePortOfTheClientsDefaultAddress) {
    std::string error;
    const auto o = parse({}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->host, "127.0.0.1");
    EXPECT_EQ(o->port, 8177);
    EXPECT_EQ(o->dataDir, "/data/default");
    EXPECT_FALSE(o->tls());
    EXPECT_TRUE(o->inviteFile.empty());
    EXPECT_GT(o->idleTimeoutSeconds, 60.0);      // beyond the clients' minute ping
    EXPECT_LT(o->minBodyBytesPerSecond, 32000);  // a live 16 kHz 16-bit stream passes
    EXPECT_GE(o->perTokenRequests, 2u);          // the client's raced second attempt
    EXPECT_GT(o->streamDecoders, 0u);
}

TEST(ServerOptions, ReadsEveryValueInBothSpellings) {
    std::string error;
    const auto o = parse({"--port=0",
                          "--data-dir",
                          "/d",
                          "--rate-per-minute",
                          "2.5",
                          "--max-body-bytes=5000",
                          "--decoders",
                          "3",
                          "--chaos",
                          "503=1",
                          "--chaos-seed",
                          "9",
                          "--crash-total-mib",
                          "2",
                          "--raw-text",
                          "--invite-file",
                          "/etc/sayloft/invite",
                          "--register-total-per-hour=7",
                          "--stream-decoders=0",
                          "--max-stream-seconds",
                          "2.5",
                          "--max-connections",
                          "8",
                          "--per-address-connections=2",
                          "--max-header-bytes",
                          "8192",
                          "--header-timeout",
                          "0.5",
                          "--body-grace",
                          "2",
                          "--min-body-rate",
                          "100",
                          "--idle-timeout",
                          "7",
                          "--busy-idle-timeout",
                          "1",
                          "--drain-seconds",
                          "3",
                          "--max-queued-seconds=90.5",
                          "--per-token-requests",
                          "3"},
                         &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->port, 0);
    EXPECT_EQ(o->dataDir, "/d");
    EXPECT_DOUBLE_EQ(o->ratePerMinute, 2.5);
    EXPECT_EQ(o->maxBodyBytes, 5000u);
    EXPECT_EQ(o->decoders, 3u);
    EXPECT_EQ(o->chaos, "503=1");
    EXPECT_EQ(o->chaosSeed, 9u);
    EXPECT_EQ(o->crashTotalBytes, 2u * 1024 * 1024);
    EXPECT_TRUE(o->rawText);
    EXPECT_EQ(o->inviteFile, "/etc/sayloft/invite");
    EXPECT_DOUBLE_EQ(o->registerTotalPerHour, 7.0);
    EXPECT_EQ(o->streamDecoders, 0u);
    EXPECT_DOUBLE_EQ(o->maxStreamSeconds, 2.5);
    EXPECT_EQ(o->maxConnections, 8u);
    EXPECT_EQ(o->perAddressConnections, 2u);
    EXPECT_EQ(o->maxHeaderBytes, 8192u);
    EXPECT_DOUBLE_EQ(o->headerTimeoutSeconds, 0.5);
    EXPECT_DOUBLE_EQ(o->bodyGraceSeconds, 2);
    EXPECT_DOUBLE_EQ(o->minBodyBytesPerSecond, 100);
    EXPECT_DOUBLE_EQ(o->idleTimeoutSeconds, 7);
    EXPECT_DOUBLE_EQ(o->busyIdleTimeoutSeconds, 1);
    EXPECT_DOUBLE_EQ(o->drainSeconds, 3);
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
        {{"--port", "-1"}, "--port"},
        {{"--rate-per-minute", "0"}, "--rate-per-minute"},
        {{"--decoders", "x"}, "--decoders"},
        {{"--stream-decoders", "-1"}, "--stream-decoders"},
        {{"--max-stream-seconds", "0"}, "--max-stream-seconds"},
        {{"--max-connections", "1"}, "--max-connections"},
        {{"--per-address-connections", "0"}, "--per-address-connections"},
        {{"--max-header-bytes", "100"}, "--max-header-bytes"},
        {{"--drain-seconds", "0"}, "--drain-seconds"},
        {{"--threads", "8"}, "unknown option"},
        {{"--max-queued-seconds", "0"}, "--max-queued-seconds"},
        {{"--per-token-requests", "0"}, "--per-token-requests"},
        {{"--host", "0.0.0.0"}, "refusing to serve plain HTTP"},
        {{"--host", "192.168.1.5"}, "refusing to serve plain HTTP"},
        {{"--cert", "c.pem"}, "--cert and --key"},
        {{"--host", "0.0.0.0", "--cert", "c", "--key", "k", "--chaos", "503=1"}, "loopback"},
        {{"--upstream", "ftp://x"}, "--upstream"},
        {{"--unix-socket", "relative.sock"}, "absolute"},
        {{"--invite-file", ""}, "--invite-file"},
        {{"--register-total-per-hour", "0"}, "--register-total-per-hour"},
        {{"--token-max-age-days", "106751991167301"}, "too large"},
        {{"--trusted-proxy", "10.0.0.0/33"}, "--trusted-proxy"},
        {{"--trusted-proxy", "proxy.example"}, "--trusted-proxy"},
        {{"--replica", "../a"}, "--replica"},
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
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) {
        EXPECT_TRUE(ServerOptions::isLoopbackHost(host)) << host;
    }
    for (const char* host : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "localhost.example", ""}) {
        EXPECT_FALSE(ServerOptions::isLoopbackHost(host)) << host;
    }
    std::string error;
    EXPECT_TRUE(parse({"--host", "0.0.0.0", "--cert", "c", "--key", "k"}, &error)) << error;
}

}  // namespace
}  // namespace sayloft
