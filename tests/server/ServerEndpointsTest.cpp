// The running sayloft-server over real HTTP, with an upstream stand-in as its recogniser so that
// every case starts in a fraction of a second: its endpoints, the limits of its HTTP layer, its
// operation (signals, TLS, injected faults, command line), a Unix socket, and two replicas behind
// HAProxy. The built-in recogniser is covered by RecognitionQualityTest.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include "ChildProcess.h"
#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "core/net/CurlSession.h"
#include "core/net/ServiceEndpoint.h"

namespace sayloft::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Half a second of a tone: a recording every recogniser accepts.
const std::string& shortWav() {
    static const std::string wav = TestForms::wav16(TestForms::tone(0.5), 16000);
    return wav;
}

int uploadStatus(int port, const std::string& token) {
    const auto res = upload(port, token, shortWav());
    return res ? res->status : 0;
}

bool servesHealth(int port, const char* from = nullptr) {
    RawConnection c(port, from);
    return c.send("GET /health HTTP/1.1\r\nHost: x\r\n\r\n") &&
           statusOf(c.readResponse(10000)) == 200;
}

const std::string formType = "Content-Type: multipart/form-data; boundary=b\r\n";

// A POST's head with this token and these further header lines.
std::string postHead(const std::string& path, const std::string& token, const std::string& more) {
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token + "\r\n" +
           more + "\r\n";
}

// A server of its own with these options, an upstream stand-in as its recogniser.
struct Service {
    explicit Service(std::vector<std::string> options)
        : server((options.insert(options.begin(), {"--upstream", upstream.address()}), options)) {}
    int port() const { return server.port(); }

    FakeUpstream upstream;
    ServerProcess server;
};

// One server for the cases that need no options of their own: small limits on what a
// connection may hold and how slowly it may send, and plenty of tokens and requests.
Service& shared() {
    static Service service({"--register-burst", "1000", "--rate-burst", "1000", "--max-body-bytes",
                            "65536", "--max-header-bytes", "8192", "--header-timeout", "1",
                            "--body-grace", "1", "--min-body-rate", "100000"});
    EXPECT_TRUE(service.server.started()) << service.server.output();
    return service;
}

TEST(ServerEndpoints, TheClientsExactBodyIsTranscribed) {
    httplib::Client c("127.0.0.1", shared().port());
    const auto health = json::parse(c.Get("/health")->body);
    EXPECT_EQ(health["status"], "ok");
    EXPECT_EQ(health["version"], SAYLOFT_PROJECT_VERSION);
    EXPECT_EQ(health["recognizer"], "upstream " + shared().upstream.address());

    const auto wav = TestForms::wav16(TestForms::tone(1.5), 16000);
    const auto res = upload(shared().port(), registerToken(shared().port()), wav);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const auto body = json::parse(res->body);
    // As the upstream gave it: lower case and without a full stop, never made into a sentence.
    EXPECT_EQ(body["text"], FakeUpstream::text);
    EXPECT_DOUBLE_EQ(body["duration"].get<double>(), 1.5);
    EXPECT_TRUE(res->get_header_value("Server-Timing").starts_with("recognize;dur="));
    // 16 kHz mono 16-bit goes upstream sample for sample.
    const auto sent = shared().upstream.requests().back().body;
    EXPECT_NE(sent.find(wav), std::string::npos);
    EXPECT_NE(sent.find("whisper-1"), std::string::npos);
}

TEST(ServerEndpoints, EachRequestGetsItsStatusAndTheServerCarriesOn) {
    const auto token = registerToken(shared().port());
    const auto post = [&](const char* path, const std::string& more) {
        return postHead(path, token, more);
    };
    const auto sized = [&](const std::string& type, const std::string& body) {
        return post("/v1/transcribe", "Content-Type: " + type + "\r\nContent-Length: " +
                                          std::to_string(body.size()) + "\r\n") +
               body;
    };
    std::string manyHeaders = "GET /health HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 200; ++i) {  // 200 headers of 60 bytes: beyond 8 KiB
        manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(45, 'a') + "\r\n";
    }
    const std::string form = TestForms::contentType("b");
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    const std::string l16 = "Content-Type: audio/L16; rate=16000; channels=1\r\n" + chunked;
    struct Row {
        const char* what;
        std::string request;  // never more than the server needs for its answer
        std::vector<int> statuses;
    };
    const Row rows[] = {
        {"headers beyond the connection's memory", manyHeaders + "\r\n", {431}},
        {"chunked beyond the limit",
         post("/v1/transcribe", formType + chunked) + "11000\r\n" + std::string(0x11000, 'x'),
         {413}},
        {"declared beyond the limit",
         post("/v1/transcribe", formType + "Content-Length: 70000\r\n"),
         {413}},
        {"compressed",
         post("/v1/transcribe", formType + "Content-Encoding: gzip\r\nContent-Length: 1\r\n") + "x",
         {415}},
        {"no length", post("/v1/transcribe", ""), {411}},
        {"a forged token", postHead("/v1/crash", "sl1.forged", "Content-Length: 0\r\n"), {401}},
        {"not multipart", sized("application/json", "{\"file\": 1}"), {415}},
        {"no boundary",
         sized("multipart/form-data", TestForms::transcribeBody("b", shortWav())),
         {400}},
        {"no file part",
         sized(form,
               "--b\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\n1\r\n--b--\r\n"),
         {400}},
        {"not a WAV", sized(form, TestForms::transcribeBody("b", "hello")), {400}},
        {"a stream to an upstream recogniser", post("/v1/stream", l16), {404}},
        {"a stream not POSTed", "PUT" + post("/v1/stream", l16).substr(4), {405}},
        {"a stream without a token", postHead("/v1/stream", "", l16), {401}},
        {"a stream at 8 kHz",
         post("/v1/stream", "Content-Type: audio/L16; rate=8000; channels=1\r\n" + chunked),
         {415}},
        {"registration without a body", "POST /v1/register HTTP/1.1\r\nHost: x\r\n\r\n", {200}},
        {"pipelined, answered in order",
         "GET /health HTTP/1.1\r\nHost: x\r\n\r\nGET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n"
         "POST /v1/crash HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
         {200, 404, 401}},
    };
    for (const auto& row : rows) {
        RawConnection raw(shared().port());
        raw.send(row.request);
        for (const int status : row.statuses) {
            const auto answer = raw.readResponse(10000);
            EXPECT_EQ(statusOf(answer), status) << row.what << "\n" << answer;
            EXPECT_EQ(bodyOf(answer).starts_with("{\"error\":"), status != 200 && status != 431)
                << row.what << "\n"
                << answer;
        }
    }
    EXPECT_EQ(uploadStatus(shared().port(), token), 200);
}

TEST(ServerEndpoints, SlowHeadersAndSlowBodiesAreCut) {
    const auto body = postHead("/v1/transcribe", registerToken(shared().port()),
                               formType + "Content-Length: 60000\r\n");
    // Then one byte at a time, each when the server has not closed.
    for (const auto& [start, trickle] :
         {std::pair{std::string("GET /health HTTP/1.1\r\nHost: x\r\nX-Slow: "), 'a'},
          std::pair{body, 'b'}}) {
        RawConnection raw(shared().port());
        ASSERT_TRUE(raw.send(start)) << trickle;
        bool closed = false;
        // Each step waits for the close as an event; the bound is far beyond the 1 s deadline.
        for (int step = 0; step < 300 && !closed; ++step) {
            closed = !raw.send(std::string(1, trickle)) || raw.waitForClose(100);
        }
        EXPECT_TRUE(closed) << trickle;
    }
    EXPECT_TRUE(servesHealth(shared().port()));
}

// Closed at once, the socket would answer the rest of the body with a reset and fail the
// client's write before it reads the answer; the lingering close reads and drops it.
TEST(ServerEndpoints, AnEarlyAnswerReachesAClientStillSending) {
    CurlSession curl;
    const std::tuple<std::string, std::size_t, long> cases[] = {
        {"Bearer " + registerToken(shared().port()), 8 * 1024 * 1024, 413},
        {"Bearer nonsense", 60000, 401},  // read and dropped
    };
    for (const auto& [authorization, bytes, status] : cases) {
        for (int round = 0; round < 5; ++round) {
            const HttpRequest request{
                .method = "POST",
                .url = "http://127.0.0.1:" + std::to_string(shared().port()) + "/v1/transcribe",
                .headers = {{"Authorization", authorization},
                            {"Content-Type", TestForms::contentType("b")}},
                .body = std::string(bytes, 'x')};
            EXPECT_EQ(curl.perform(request, {}).status, status) << authorization << " " << round;
        }
    }
}

TEST(ServerEndpoints, AFailingUpstreamAnswers502) {
    shared().upstream.status = 500;
    EXPECT_EQ(uploadStatus(shared().port(), registerToken(shared().port())), 502);
    shared().upstream.status = 200;
}

TEST(ServerEndpoints, TheAccessLogHasOneLinePerRequestAndNoSecrets) {
    const auto token = registerToken(shared().port());
    EXPECT_EQ(uploadStatus(shared().port(), token), 200);
    ASSERT_TRUE(
        shared().server.waitForLine("POST /v1/transcribe 200 in=", std::chrono::seconds(10)));
    const auto log = shared().server.output();
    EXPECT_EQ(log.find(token.substr(4, 20)), std::string::npos);
    EXPECT_EQ(log.find(FakeUpstream::text), std::string::npos);
    EXPECT_NE(log.find("POST /v1/register 200"), std::string::npos);
}

// CrashStoreTest holds how many reports are kept.
TEST(ServerEndpoints, ACrashReportIsStoredPrivatelyWithItsPlatform) {
    httplib::Client c("127.0.0.1", shared().port());
    const auto post = [&, token = registerToken(shared().port())](const std::string& body) {
        return c.Post("/v1/crash", {{"Authorization", "Bearer " + token}}, body,
                      TestForms::contentType("b").c_str());
    };
    EXPECT_EQ(post(TestForms::crashBody("b", "trace", "0.1.0", "Debian 12", "linux"))->status, 200);
    EXPECT_EQ(post(TestForms::transcribeBody("b", "x"))->status, 400);
    int stored = 0;
    for (const auto& file :
         fs::recursive_directory_iterator(shared().server.dataDir() / "crash-reports")) {
        if (file.path().extension() == ".ips") {
            ++stored;
            EXPECT_EQ(TestForms::readFile(file.path().string()), "trace");
            EXPECT_EQ(fs::status(file.path()).permissions() & fs::perms::others_read,
                      fs::perms::none);
            const auto meta = fs::path(file.path()).replace_extension(".json").string();
            EXPECT_EQ(json::parse(TestForms::readFile(meta))["platform"], "linux");
        }
    }
    EXPECT_EQ(stored, 1);
}

TEST(ServerLimits, TokensAndAddressesAreRateLimited) {
    Service s({"--rate-burst", "2", "--rate-per-minute", "0.001", "--register-burst", "3",
               "--register-per-hour", "0.001"});
    const auto a = registerToken(s.port());
    const auto b = registerToken(s.port());
    ASSERT_FALSE(registerToken(s.port()).empty());
    EXPECT_EQ(registerToken(s.port()), "");
    EXPECT_EQ(uploadStatus(s.port(), a), 200);
    EXPECT_EQ(uploadStatus(s.port(), a), 200);
    const auto refused = upload(s.port(), a, shortWav());
    EXPECT_EQ(refused->status, 429);
    EXPECT_GT(std::stoll(refused->get_header_value("Retry-After")), 0);
    // A stream is refused on its headers alone.
    const auto raw = StreamingClient(s.port(), a).readResponse(10'000);
    EXPECT_EQ(statusOf(raw), 429) << raw;
    EXPECT_NE(headerOf(raw, "Retry-After"), "");
    EXPECT_EQ(uploadStatus(s.port(), b), 200);  // another token has its own bucket
}

TEST(ServerOperation, SigtermFinishesTheRequestInFlightWithoutWaitingForIdleConnections) {
    Service s({});
    s.upstream.hold = true;
    const auto token = registerToken(s.port());
    // A client such as the application keeps its connection open between requests; the stop
    // must not wait for that connection's keep-alive time-out (65 s).
    RawConnection idle(s.port());
    ASSERT_TRUE(idle.send("GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(statusOf(idle.readResponse(5000)), 200);
    auto inFlight = std::async(std::launch::async, [&] { return uploadStatus(s.port(), token); });
    s.upstream.waitForRequests(1);
    s.server.signal(SIGTERM);
    ASSERT_TRUE(s.server.waitForLine("finishing requests in flight", std::chrono::seconds(30)));
    // New connections are no longer accepted while the old request is still being served.
    httplib::Client late("127.0.0.1", s.port());
    late.set_connection_timeout(std::chrono::seconds(2));
    EXPECT_FALSE(late.Get("/health"));
    s.upstream.gate(0).open();
    EXPECT_EQ(inFlight.get(), 200);
    EXPECT_EQ(s.server.wait(std::chrono::seconds(30)), 0) << s.server.output();
}

TEST(ServerOperation, AnUnreachableUpstreamAnswers503AndOneAddressCannotTakeEveryConnection) {
    ServerProcess server({"--upstream", "http://127.0.0.1:" + std::to_string(unusedPort()),
                          "--per-address-connections", "2"});
    ASSERT_TRUE(server.started()) << server.output();
    EXPECT_EQ(uploadStatus(server.port(), registerToken(server.port())), 503);
    RawConnection first(server.port(), "127.0.0.2");
    RawConnection second(server.port(), "127.0.0.2");
    ASSERT_TRUE(servesHealth(server.port()));  // both are accepted by now (in order)
    RawConnection third(server.port(), "127.0.0.2");
    EXPECT_TRUE(third.waitForClose(10000));
    EXPECT_TRUE(servesHealth(server.port()));
}

// Status 0: closed without an answer. A stalled request outlasts the stop's drain time.
TEST(ServerOperation, InjectedFaultsFollowTheChaosListAndTheStopClosesWhatOutlastsTheDrain) {
    for (const auto& [chaos, status] : {std::pair{"503=1", 503},
                                        {"json=1", 200},
                                        {"reset=1", 0},
                                        {"stall=1,stall-seconds=600", 0}}) {
        Service s({"--chaos", chaos, "--drain-seconds", "1"});
        EXPECT_TRUE(servesHealth(s.port())) << chaos;  // health is never disturbed
        RawConnection raw(s.port());
        raw.send("POST /v1/register HTTP/1.1\r\nHost: x\r\n\r\n");
        if (std::string_view(chaos).starts_with("stall")) {
            s.server.signal(SIGTERM);
        }
        const auto answer = raw.readResponse(30000);
        EXPECT_EQ(statusOf(answer), status) << chaos << ": " << answer;
        if (status == 200) {
            EXPECT_TRUE(json::parse(bodyOf(answer), nullptr, false).is_discarded()) << answer;
        }
        EXPECT_EQ(s.server.terminate(), 0) << s.server.output();
    }
}

// A self-signed certificate for 127.0.0.1 in `dir`: c (the certificate), k (its key), and both
// in cert.pem (as HAProxy reads them).
bool makeCertificate(const fs::path& dir) {
    return std::system(("cd " + dir.string() +
                        " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=x "
                        "-addext subjectAltName=IP:127.0.0.1 -keyout k -out c 2>/dev/null "
                        "&& cat c k > cert.pem")
                           .c_str()) == 0;
}

TEST(ServerOperation, ServesHttpsWithACertificate) {
    TempDir dir;
    ASSERT_TRUE(makeCertificate(dir.path()));
    Service s({"--cert", (dir.path() / "c").string(), "--key", (dir.path() / "k").string()});
    ASSERT_TRUE(s.server.started()) << s.server.output();
    EXPECT_NE(s.server.output().find("listening on https://"), std::string::npos);
    httplib::Client c("https://127.0.0.1:" + std::to_string(s.port()));
    c.enable_server_certificate_verification(false);
    const auto token = json::parse(c.Post("/v1/register")->body).value("token", "");
    EXPECT_EQ(
        c.Post("/v1/transcribe", {{"Authorization", "Bearer " + token}},
               TestForms::transcribeBody("b", shortWav()), TestForms::contentType("b").c_str())
            ->status,
        200);
    EXPECT_FALSE(servesHealth(s.port()));  // plain HTTP is not served
}

TEST(ServerOperation, CommandLine) {
    TempDir data;
    const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
        {{"--help"}, 0, "Usage: sayloft-server"},
        {{"--version"}, 0, std::string("sayloft-server ") + SAYLOFT_PROJECT_VERSION + "\n"},
        {{"--bogus"}, 2, "unknown option"},
        {{"--invite-file", "/nonexistent/invite"}, 1, "/nonexistent/invite"},
        {{"--evaluate", "/nonexistent/folder"}, 1, "cannot read the folder"},
        {{"--data-dir", data.path().string(), "--rotate-secret"}, 0, ""},
    };
    for (const auto& [args, status, text] : rows) {
        const auto run = ServerProcess::run(args);
        EXPECT_EQ(run.status, status) << args[0] << run.err;
        EXPECT_NE((run.out + run.err).find(text), std::string::npos) << run.out << run.err;
    }
    EXPECT_EQ(fs::status(data.path() / "token-secret").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// A server on this socket, with an upstream it never asks so that it starts at once.
std::vector<std::string> on(const fs::path& socket) {
    return {"--unix-socket", socket.string(), "--upstream", "http://127.0.0.1:9"};
}

// LinuxLocalServiceTest starts the server on its socket and checks the modes, a registration
// through the socket and the socket's removal at the stop.
TEST(UnixSocketServer, ReplacesAStaleSocketButNeverALiveOneAnotherFileOrAnOpenFolder) {
    TempDir runtime;
    const fs::path socket = ServiceEndpoint::userSocket(runtime.path());
    {
        ServerProcess killed(on(socket));  // leaves its socket behind
        ASSERT_TRUE(killed.started()) << killed.output();
        killed.signal(SIGKILL);
        killed.wait(std::chrono::seconds(10));
    }
    ASSERT_TRUE(fs::is_socket(socket));
    ServerProcess own(on(socket));
    ASSERT_TRUE(own.started()) << own.output();
    EXPECT_EQ(own.port(), 0) << "no TCP listener without --host or --port";

    const fs::path plainFile = runtime.path() / "sayloft" / "notes.txt";
    { std::ofstream(plainFile) << "keep"; }
    const fs::path open = runtime.path() / "open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::others_exec);
    const std::pair<fs::path, const char*> refusals[] = {
        {socket, "already answers"},
        {plainFile, "not a socket"},
        {open / "server.sock", "others may enter"},
    };
    for (const auto& [path, reason] : refusals) {
        const auto refused = ServerProcess::run(on(path));
        EXPECT_EQ(refused.status, 1) << path;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(fs::is_regular_file(plainFile));
    EXPECT_FALSE(fs::exists(open / "server.sock"));
    EXPECT_TRUE(ServiceEndpoint::answersHealth({*Url::parse("http://127.0.0.1:8177"), socket},
                                               std::chrono::seconds(5)));
}

// A PROXY protocol v2 header naming 203.0.113.9:5000 as the client of a TCP over IPv4 stream.
std::string proxyHeader() {
    return std::string("\r\n\r\n\0\r\nQUIT\n\x21\x11\x00\x0C", 16) +
           std::string("\xCB\x00\x71\x09\x7F\x00\x00\x01\x13\x88\x1F\xF1", 12);
}

// With the checked-in config (packaging/haproxy): served through TLS, a replica lost, and the
// PROXY protocol accepted only from the proxy's address. ServerOptionsTest holds where a replica
// keeps its crash reports.
TEST(Cluster, ServesThroughHaproxyWhileAReplicaIsLost) {
    if (std::system("command -v haproxy >/dev/null") != 0) {
        GTEST_SKIP() << "haproxy is not installed (apt-get install haproxy)";
    }
    TempDir dir;
    ASSERT_TRUE(makeCertificate(dir.path()));
    FakeUpstream upstream;
    auto replica = [&](const char* name) {
        return std::make_unique<ServerProcess>(
            std::vector<std::string>{"--data-dir", dir.path().string(), "--replica", name,
                                     "--trusted-proxy", "127.0.0.1", "--upstream",
                                     upstream.address()},
            false);
    };
    auto first = replica("r1");  // makes the token secret the second one reads
    auto second = replica("r2");
    ASSERT_TRUE(first->started() && second->started()) << first->output() << second->output();
    const int port = unusedPort();
    const ChildProcess haproxy(
        {"haproxy", "-db", "-f", SAYLOFT_HAPROXY_CONFIG},
        {{"SAYLOFT_LISTEN", "127.0.0.1:" + std::to_string(port)},
         {"SAYLOFT_CERT", (dir.path() / "cert.pem").string()},
         {"SAYLOFT_REPLICA_1", "127.0.0.1:" + std::to_string(first->port())},
         {"SAYLOFT_REPLICA_2", "127.0.0.1:" + std::to_string(second->port())},
         {"SAYLOFT_CHECK_INTERVAL", "100ms"},
         {"SAYLOFT_SOURCE_CONNECTIONS", "32"}});

    CurlSession::Options options;
    options.caFile = dir.path() / "c";
    CurlSession curl(options);
    // The status of a POST through HAProxy (0: not answered) after polling (bounded) until
    // `count` answers in a row are 200: HAProxy starting, or taking a lost replica out.
    std::string token;
    const auto form = TestForms::transcribeBody("b", TestForms::wav16(TestForms::tone(0.5), 16000));
    auto postUntil = [&](int count, const std::string& path) {
        HttpResponse answer;
        for (int row = 0, tries = 0; row < count && tries < 400; ++tries) {
            try {
                answer = curl.perform({.method = "POST",
                                       .url = "https://127.0.0.1:" + std::to_string(port) + path,
                                       .headers = {{"Authorization", "Bearer " + token},
                                                   {"Content-Type", TestForms::contentType("b")}},
                                       .body = path == "/v1/register" ? "" : form},
                                      {});
            } catch (const std::exception&) {
                answer = {};
            }
            row = answer.status == 200 ? row + 1 : 0;
            if (row == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        return answer;
    };
    token = nlohmann::json::parse(postUntil(1, "/v1/register").body).value("token", "");
    const auto spoken = postUntil(1, "/v1/transcribe");
    EXPECT_NE(spoken.body.find(FakeUpstream::text), std::string::npos) << spoken.body;
    first->signal(SIGKILL);
    first->wait(std::chrono::seconds(10));
    EXPECT_EQ(postUntil(3, "/v1/transcribe").status, 200);

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
