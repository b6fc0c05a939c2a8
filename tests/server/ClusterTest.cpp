// Two sayloft-server replicas behind HAProxy with the checked-in config (packaging/haproxy), on
// loopback: served through TLS, a replica lost, and the PROXY protocol accepted only from the
// proxy's address.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "core/net/CurlSession.h"

extern char** environ;

namespace sayloft::test {
namespace {

using Clock = std::chrono::steady_clock;

// HAProxy in the foreground with the settings the config reads from the environment.
class Haproxy {
public:
    Haproxy(const std::vector<std::pair<std::string, std::string>>& settings,
            const std::filesystem::path& log) {
        for (const auto& [name, value] : settings) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0600);
        const char* argv[] = {"haproxy", "-db", "-f", SAYLOFT_HAPROXY_CONFIG, nullptr};
        if (::posix_spawnp(&pid_, "haproxy", &actions, nullptr, const_cast<char**>(argv),
                           environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Haproxy() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

// A PROXY protocol v2 header naming 203.0.113.9:5000 as the client of a TCP over IPv4 stream.
std::string proxyHeader() {
    return std::string("\r\n\r\n\0\r\nQUIT\n\x21\x11\x00\x0C", 16) +
           std::string("\xCB\x00\x71\x09\x7F\x00\x00\x01\x13\x88\x1F\xF1", 12);
}

TEST(Cluster, ServesThroughHaproxyWhileAReplicaIsLost) {
    if (std::system("command -v haproxy >/dev/null") != 0) {
        GTEST_SKIP() << "haproxy is not installed (apt-get install haproxy)";
    }
    TempDir dir;
    const auto cert = dir.path() / "cert.pem";
    ASSERT_EQ(std::system(("cd " + dir.path().string() +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=x "
                           "-addext subjectAltName=IP:127.0.0.1 -keyout k -out c 2>/dev/null "
                           "&& cat c k > cert.pem")
                              .c_str()),
              0);
    FakeUpstream upstream;
    auto replica = [&](const char* name) {
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{"--data-dir", dir.path().string(), "--replica", name,
                                     "--trusted-proxy", "127.0.0.1", "--upstream", upstream.url()},
            false);
    };
    auto first = replica("r1");  // makes the token secret the second one reads
    auto second = replica("r2");
    ASSERT_TRUE(first->started() && second->started()) << first->output() << second->output();
    const int port = unusedPort();
    Haproxy haproxy({{"SAYLOFT_LISTEN", "127.0.0.1:" + std::to_string(port)},
                     {"SAYLOFT_CERT", cert.string()},
                     {"SAYLOFT_REPLICA_1", "127.0.0.1:" + std::to_string(first->port())},
                     {"SAYLOFT_REPLICA_2", "127.0.0.1:" + std::to_string(second->port())},
                     {"SAYLOFT_CHECK_INTERVAL", "100ms"},
                     {"SAYLOFT_SOURCE_CONNECTIONS", "32"}},
                    dir.path() / "haproxy.log");

    CurlSession::Options options;
    options.caFile = dir.path() / "c";
    CurlSession curl(options);
    const std::string url = "https://127.0.0.1:" + std::to_string(port);
    auto post = [&](const std::string& path, const std::string& token, const std::string& body) {
        HttpRequest request;
        request.method = "POST";
        request.url = url + path;
        request.headers = {{"Authorization", "Bearer " + token},
                           {"Content-Type", TestForms::contentType("b")}};
        request.body = body;
        try {
            return curl.perform(request, {});
        } catch (const std::exception&) {  // not answered: status 0
            return HttpResponse{};
        }
    };
    // Polls (bounded) until `count` answers in a row are 200: HAProxy starting, or taking a
    // lost replica out.
    auto answersInARow = [&](int count, auto request) {
        int row = 0;
        for (const auto deadline = Clock::now() + std::chrono::seconds(20);
             row < count && Clock::now() < deadline;) {
            row = request().status == 200 ? row + 1 : 0;
            if (row == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        return row == count;
    };
    ASSERT_TRUE(answersInARow(1, [&] { return post("/v1/register", "", ""); }))
        << std::ifstream(dir.path() / "haproxy.log").rdbuf();

    const auto registered = post("/v1/register", "", "");
    ASSERT_EQ(registered.status, 200) << registered.body;
    const auto token = nlohmann::json::parse(registered.body).value("token", "");
    const auto wav = TestForms::wav16(TestForms::tone(0.5), 16000);
    const auto spoken = post("/v1/transcribe", token, TestForms::transcribeBody("b", wav));
    EXPECT_EQ(spoken.status, 200) << spoken.body;
    EXPECT_NE(spoken.body.find(FakeUpstream::text), std::string::npos);

    first->signal(SIGKILL);
    first->wait(std::chrono::seconds(10));
    EXPECT_TRUE(answersInARow(
        3, [&] { return post("/v1/transcribe", token, TestForms::transcribeBody("b", wav)); }));
    // What is left is the second replica: it keeps the crash reports in its own folder.
    EXPECT_EQ(
        post("/v1/crash", token, TestForms::crashBody("b", "trace", "1", "x", "linux")).status,
        200);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "crash-reports" / "r2"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "crash-reports" / "r1"));

    // Straight to the replica: the header counts only from the trusted address, and there it is
    // required; the client it names (not loopback) is no local one.
    const std::string registration = "POST /v1/register HTTP/1.1\r\nHost: x\r\n\r\n";
    struct Row {
        const char* from;
        std::string bytes;
        int status;  // 0: closed without an answer
    };
    const Row rows[] = {
        {"127.0.0.2", proxyHeader() + registration, 0},  // first: its refusal is logged
        {"127.0.0.1", proxyHeader() + registration, 403},
        {"127.0.0.1", registration, 0},
        {"127.0.0.2", registration, 200},
    };
    for (const Row& row : rows) {
        RawConnection raw(second->port(), row.from);
        raw.send(row.bytes);
        EXPECT_EQ(statusOf(raw.readResponse(10000)), row.status) << row.from;
    }
    EXPECT_TRUE(
        second->waitForLine("refused a connection from 127.0.0.2", std::chrono::seconds(10)));
}

}  // namespace
}  // namespace sayloft::test
