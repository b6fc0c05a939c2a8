// The running sayloft-server over real HTTP, with an upstream stand-in as its recogniser so that
// every case starts in a fraction of a second. The built-in recogniser is covered by
// RecognitionQualityTest.

#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "server/TokenAuthority.h"

namespace sayloft::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

httplib::Headers bearer(const std::string& token) {
    return {{"Authorization", "Bearer " + token}};
}

template <typename HttpClient>
std::string registerToken(HttpClient& client) {
    const auto res = client.Post("/v1/register");
    if (!res || res->status != 200) {
        return "";
    }
    return json::parse(res->body).value("token", "");
}

httplib::Result postForm(httplib::Client& client, const std::string& path,
                         const httplib::Headers& headers, const std::string& body,
                         const std::string& boundary) {
    return client.Post(path.c_str(), headers, body, TestForms::contentType(boundary).c_str());
}

// Half a second of a tone: a recording every recogniser accepts.
const std::string& shortWav() {
    static const std::string wav = TestForms::wav16(TestForms::tone(0.5), 16000);
    return wav;
}

// An upload with the token, or with these headers instead when the token is "".
httplib::Result transcribe(httplib::Client& client, const std::string& token,
                           const httplib::Headers& headers = {}) {
    const auto boundary = TestForms::newBoundary();
    return postForm(client, "/v1/transcribe", token.empty() ? headers : bearer(token),
                    TestForms::transcribeBody(boundary, shortWav()), boundary);
}

// A server of its own with these options, an upstream stand-in as its recogniser.
struct Service {
    explicit Service(std::vector<std::string> options, bool ownDataDir = true)
        : server(withUpstream(std::move(options)), ownDataDir) {}
    std::vector<std::string> withUpstream(std::vector<std::string> options) const {
        options.insert(options.begin(), {"--upstream", upstream.url()});
        return options;
    }
    httplib::Client client() const { return httplib::Client("127.0.0.1", server.port()); }

    FakeUpstream upstream;
    ServerProcess server;
};

class ServerEndpoints : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        upstream_ = new FakeUpstream();
        server_ = new ServerProcess(
            {"--upstream", upstream_->url(), "--register-burst", "1000", "--rate-burst", "1000"});
        ASSERT_TRUE(server_->started()) << server_->output();
    }
    static void TearDownTestSuite() {
        delete server_;
        delete upstream_;
    }
    void SetUp() override { upstream_->setMode(FakeUpstream::Mode::answer); }

    httplib::Client client() { return httplib::Client("127.0.0.1", server_->port()); }

    static FakeUpstream* upstream_;
    static ServerProcess* server_;
};
FakeUpstream* ServerEndpoints::upstream_ = nullptr;
ServerProcess* ServerEndpoints::server_ = nullptr;

TEST_F(ServerEndpoints, HealthIsSmallJson) {
    auto c = client();
    const auto res = c.Get("/health");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    const auto body = json::parse(res->body);
    EXPECT_EQ(body["status"], "ok");
    EXPECT_EQ(body["version"], SAYLOFT_PROJECT_VERSION);
    EXPECT_EQ(body["recognizer"], "upstream " + upstream_->url());
}

TEST_F(ServerEndpoints, TheClientsExactBodyIsTranscribed) {
    auto c = client();
    const auto token = registerToken(c);
    ASSERT_FALSE(token.empty());
    const auto samples = TestForms::tone(1.5);
    const auto b = TestForms::newBoundary();
    const auto res = postForm(c, "/v1/transcribe", bearer(token),
                              TestForms::transcribeBody(b, TestForms::wav16(samples, 16000)), b);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const auto body = json::parse(res->body);
    // As the upstream gave it: lower case and without a full stop, never made into a sentence.
    EXPECT_EQ(body["text"], FakeUpstream::text);
    EXPECT_DOUBLE_EQ(body["duration"].get<double>(), 1.5);
    EXPECT_TRUE(res->get_header_value("Server-Timing").starts_with("recognize;dur="));
    // 16 kHz mono 16-bit goes upstream sample for sample.
    EXPECT_EQ(upstream_->lastWav(), TestForms::wav16(samples, 16000));
    EXPECT_EQ(upstream_->lastModel(), "whisper-1");
}

TEST_F(ServerEndpoints, OnlyGenuineTokensAreAccepted) {
    auto c = client();
    const auto good = registerToken(c);
    TokenAuthority::Secret otherSecret{};
    otherSecret.fill(0x5a);
    const TokenAuthority stranger(otherSecret, 0, [] { return std::int64_t{1'800'000'000}; });
    std::string tampered = good;
    tampered[10] = tampered[10] == 'x' ? 'y' : 'x';
    const std::pair<std::string, httplib::Headers> cases[] = {
        {"absent", {}},
        {"tampered", bearer(tampered)},
        {"another server's secret", bearer(stranger.issue())},
        {"basic scheme", {{"Authorization", "Basic " + good}}},
    };
    for (const auto& [what, headers] : cases) {
        const auto res = transcribe(c, "", headers);
        ASSERT_TRUE(res) << what;
        EXPECT_EQ(res->status, 401) << what;
        EXPECT_EQ(json::parse(res->body)["error"], "missing or invalid token");
    }
    const auto b = TestForms::newBoundary();
    EXPECT_EQ(
        postForm(c, "/v1/crash", {}, TestForms::crashBody(b, "r", "dev", "Debian", "linux"), b)
            ->status,
        401);
    EXPECT_EQ(transcribe(c, good)->status, 200);
}

TEST_F(ServerEndpoints, BadFormsAndAudioGetA4xxAndTheServerCarriesOn) {
    auto c = client();
    const auto token = registerToken(c);
    std::string lyingWav = shortWav();
    lyingWav[40] = '\x40';  // data size far beyond the bytes present
    lyingWav[41] = '\x9c';
    const std::string b = TestForms::newBoundary();
    const std::string good = TestForms::transcribeBody(b, shortWav());
    const std::string fileOnly = "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; "
                                 "filename=\"a.wav\"\r\n\r\n" +
                                 shortWav() + "\r\n--" + b + "--\r\n";
    const std::string versionOnly = "--" + b +
                                    "\r\nContent-Disposition: form-data; name=\"app_version\""
                                    "\r\n\r\ndev\r\n--" +
                                    b + "--\r\n";
    struct Case {
        const char* what;
        std::string contentType;
        std::string body;
        int status;
    };
    const Case cases[] = {
        {"not multipart", "application/json", "{\"file\": 1}", 415},
        {"no boundary", "multipart/form-data", good, 400},
        {"missing file part", TestForms::contentType(b), versionOnly, 400},
        {"missing app_version part", TestForms::contentType(b), fileOnly, 400},
        {"not a WAV", TestForms::contentType(b), TestForms::transcribeBody(b, "hello"), 400},
        {"WAV header lies about its size", TestForms::contentType(b),
         TestForms::transcribeBody(b, lyingWav), 400},
    };
    for (const auto& k : cases) {
        const auto res = c.Post("/v1/transcribe", bearer(token), k.body, k.contentType.c_str());
        ASSERT_TRUE(res) << k.what;
        EXPECT_EQ(res->status, k.status) << k.what << ": " << res->body;
        const auto body = json::parse(res->body, nullptr, false);
        EXPECT_TRUE(body.is_object() && body["error"].is_string()) << k.what << ": " << res->body;
        EXPECT_EQ(transcribe(c, token)->status, 200) << "after " << k.what;
    }
}

TEST_F(ServerEndpoints, APostWithoutLengthIsRefusedAndRegisterNeedsNoBody) {
    RawConnection raw(server_->port());
    ASSERT_TRUE(raw.send("POST /v1/register HTTP/1.1\r\nHost: x\r\n\r\n"));
    const auto registered = raw.readResponse(10000);
    ASSERT_EQ(statusOf(registered), 200) << registered;
    const auto token = json::parse(bodyOf(registered))["token"];
    RawConnection unsized(server_->port());
    ASSERT_TRUE(unsized.send("POST /v1/transcribe HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                             token.get<std::string>() + "\r\n\r\n"));
    EXPECT_EQ(statusOf(unsized.readResponse(10000)), 411);
}

TEST_F(ServerEndpoints, AFailingUpstreamAnswers502AndAnUnreachableOne503) {
    auto c = client();
    const auto token = registerToken(c);
    upstream_->setMode(FakeUpstream::Mode::fail500);
    EXPECT_EQ(transcribe(c, token)->status, 502);

    ServerProcess unreachable({"--upstream", "http://127.0.0.1:" + std::to_string(unusedPort())});
    httplib::Client other("127.0.0.1", unreachable.port());
    EXPECT_EQ(transcribe(other, registerToken(other))->status, 503);
}

TEST_F(ServerEndpoints, TheAccessLogHasOneLinePerRequestAndNoSecrets) {
    auto c = client();
    const auto token = registerToken(c);
    ASSERT_TRUE(transcribe(c, token));
    ASSERT_TRUE(server_->waitForLine("POST /v1/transcribe 200 in=", std::chrono::seconds(10)));
    const auto log = server_->output();
    EXPECT_EQ(log.find(token), std::string::npos);
    EXPECT_EQ(log.find(token.substr(4, 20)), std::string::npos);
    EXPECT_EQ(log.find(FakeUpstream::text), std::string::npos);
    EXPECT_NE(log.find("POST /v1/register 200"), std::string::npos);
}

TEST(ServerLimits, TokensAndAddressesAreRateLimited) {
    Service s({"--rate-burst", "2", "--rate-per-minute", "0.001", "--register-burst", "3",
               "--register-per-hour", "0.001"});
    auto c = s.client();
    const auto a = registerToken(c);
    const auto b = registerToken(c);
    ASSERT_FALSE(registerToken(c).empty());
    EXPECT_EQ(c.Post("/v1/register")->status, 429);
    EXPECT_EQ(transcribe(c, a)->status, 200);
    EXPECT_EQ(transcribe(c, a)->status, 200);
    const auto refused = transcribe(c, a);
    EXPECT_EQ(refused->status, 429);
    EXPECT_GT(std::stoll(refused->get_header_value("Retry-After")), 0);
    EXPECT_EQ(transcribe(c, b)->status, 200);  // another token has its own bucket
}

TEST(ServerLimits, CrashReportsAreStoredWithinTheirCaps) {
    Service s({"--crash-per-device", "2"});
    auto c = s.client();
    const auto token = registerToken(c);
    for (const std::string report : {"first", "second", "third"}) {
        const auto b = TestForms::newBoundary();
        const auto res =
            postForm(c, "/v1/crash", bearer(token),
                     TestForms::crashBody(b, report, "0.1.0", "Debian 12", "linux"), b);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
    }
    const auto b = TestForms::newBoundary();
    EXPECT_EQ(postForm(c, "/v1/crash", bearer(token), TestForms::transcribeBody(b, "x"), b)->status,
              400);

    std::vector<std::string> kept;
    for (const auto& device : fs::directory_iterator(s.server.dataDir() / "crash-reports")) {
        for (const auto& file : fs::directory_iterator(device.path())) {
            if (file.path().extension() == ".ips") {
                kept.push_back(TestForms::readFile(file.path().string()));
                EXPECT_EQ(fs::status(file.path()).permissions() & fs::perms::others_read,
                          fs::perms::none);
                auto meta = file.path();
                meta.replace_extension(".json");
                EXPECT_EQ(json::parse(TestForms::readFile(meta.string()))["platform"], "linux");
            }
        }
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"second", "third"}));
}

TEST(ServerOperation, SigtermLetsTheRequestInFlightFinishThenExitsZero) {
    Service s({});
    auto& [upstream, server] = s;
    upstream.setMode(FakeUpstream::Mode::hold);
    auto c = s.client();
    const auto token = registerToken(c);
    auto inFlight = std::async(std::launch::async, [&] {
        httplib::Client own("127.0.0.1", server.port());
        own.set_read_timeout(std::chrono::seconds(60));
        const auto res = transcribe(own, token);
        return res ? res->status : -1;
    });
    ASSERT_TRUE(upstream.waitForRequests(1));
    server.signal(SIGTERM);
    ASSERT_TRUE(server.waitForLine("finishing requests in flight", std::chrono::seconds(30)));
    // New connections are no longer accepted while the old request is still being served.
    httplib::Client late("127.0.0.1", server.port());
    late.set_connection_timeout(std::chrono::seconds(2));
    EXPECT_FALSE(late.Get("/health"));
    upstream.release();
    EXPECT_EQ(inFlight.get(), 200);
    EXPECT_EQ(server.wait(std::chrono::seconds(60)), 0) << server.output();
}

TEST(ServerOperation, SigtermDoesNotWaitForIdleKeepAliveConnections) {
    // A client such as the application keeps its connection open between requests; the stop
    // must not wait for that connection's keep-alive time-out (65 s).
    Service s({});
    auto& server = s.server;
    RawConnection idle(server.port());
    ASSERT_TRUE(idle.send("GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(statusOf(idle.readResponse(5000)), 200);
    // The answer is logged once sent: the connection's thread is on its way to the keep-alive
    // wait (a stop that comes earlier is noticed anyway).
    ASSERT_TRUE(server.waitForLine("GET /health 200", std::chrono::seconds(10)));
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(std::chrono::seconds(20)), 0) << server.output();
}

TEST(ServerOperation, InjectedFaultsFollowTheChaosList) {
    FakeUpstream upstream;
    struct Case {
        const char* chaos;
        int status;  // 0: the connection is reset without an answer
    };
    for (const Case k : {Case{"503=1", 503}, Case{"json=1", 200}, Case{"reset=1", 0}}) {
        ServerProcess server({"--upstream", upstream.url(), "--chaos", k.chaos});
        ASSERT_TRUE(server.started()) << server.output();
        httplib::Client c("127.0.0.1", server.port());
        EXPECT_EQ(c.Get("/health")->status, 200) << k.chaos;  // health is never disturbed
        RawConnection raw(server.port());
        const auto b = TestForms::newBoundary();
        const auto body = TestForms::transcribeBody(b, shortWav());
        ASSERT_TRUE(raw.send("POST /v1/transcribe HTTP/1.1\r\nHost: x\r\nContent-Type: " +
                             TestForms::contentType(b) + "\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body));
        const auto answer = raw.readResponse(20000);
        EXPECT_EQ(statusOf(answer), k.status) << k.chaos << ": " << answer;
        if (k.status == 200) {
            const auto text = bodyOf(answer);
            EXPECT_TRUE(json::parse(text, nullptr, false).is_discarded()) << text;
        }
    }
}

TEST(ServerOperation, ServesHttpsWithACertificate) {
    TempDir dir;
    const auto cert = (dir.path() / "cert.pem").string();
    const auto key = (dir.path() / "key.pem").string();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + key +
        " -out " + cert + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Service s({"--cert", cert, "--key", key});
    const auto& server = s.server;
    ASSERT_TRUE(server.started()) << server.output();
    EXPECT_NE(server.output().find("listening on https://"), std::string::npos);
    httplib::Client c("https://127.0.0.1:" + std::to_string(server.port()));
    c.set_ca_cert_path(cert.c_str());
    c.enable_server_certificate_verification(false);
    const auto token = registerToken(c);
    ASSERT_FALSE(token.empty());
    const auto b = TestForms::newBoundary();
    EXPECT_EQ(c.Post("/v1/transcribe", bearer(token), TestForms::transcribeBody(b, shortWav()),
                     TestForms::contentType(b).c_str())
                  ->status,
              200);
    httplib::Client plain("127.0.0.1", server.port());
    const auto refused = plain.Get("/health");
    EXPECT_TRUE(!refused || refused->status != 200);
}

TEST(ServerOperation, CommandLine) {
    auto help = ServerProcess::run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: sayloft-server"), std::string::npos);
    auto version = ServerProcess::run({"--version"});
    EXPECT_EQ(version.out, std::string("sayloft-server ") + SAYLOFT_PROJECT_VERSION + "\n");
    auto bad = ServerProcess::run({"--bogus"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("unknown option"), std::string::npos);
    auto noInvite = ServerProcess::run({"--invite-file", "/nonexistent/invite"});
    EXPECT_EQ(noInvite.status, 1);
    EXPECT_NE(noInvite.err.find("/nonexistent/invite"), std::string::npos);
}

TEST(ServerOperation, TheSecretIsPrivateStableAndRotatable) {
    TempDir dir;
    const auto data = dir.path() / "data";
    FakeUpstream upstream;
    const std::vector<std::string> options = {"--upstream", upstream.url(), "--data-dir",
                                              data.string()};
    std::string token;
    {
        ServerProcess first(options, false);
        ASSERT_TRUE(first.started());
        httplib::Client c("127.0.0.1", first.port());
        token = registerToken(c);
    }
    const auto secret = data / "token-secret";
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    {
        ServerProcess second(options, false);
        httplib::Client c("127.0.0.1", second.port());
        EXPECT_EQ(transcribe(c, token)->status, 200);  // survives a restart
    }
    EXPECT_EQ(ServerProcess::run({"--data-dir", data.string(), "--rotate-secret"}).status, 0);
    {
        ServerProcess third(options, false);
        httplib::Client c("127.0.0.1", third.port());
        EXPECT_EQ(transcribe(c, token)->status, 401);  // rotation revokes every token
        EXPECT_EQ(transcribe(c, registerToken(c))->status, 200);
    }
    fs::permissions(secret, fs::perms::group_read, fs::perm_options::add);
    ServerProcess exposed(options, false);
    EXPECT_FALSE(exposed.started());
    EXPECT_EQ(exposed.wait(std::chrono::seconds(30)), 1);
    EXPECT_NE(exposed.output().find("chmod 600"), std::string::npos);
}

}  // namespace
}  // namespace sayloft::test
