#include <condition_variable>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "Script.h"
#include "VirtualSleeper.h"
#include "core/config/Config.h"
#include "core/net/APIClient.h"
#include "core/net/MultipartBody.h"
#include "core/net/RegistrationNotOffered.h"
#include "core/net/RequestCancelled.h"
#include "core/net/StreamFailed.h"
#include "core/net/TransportError.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;

// A fake session answering from a script, in order: an HTTP answer, an exception to throw, or
// stall() (waits until the caller stops it, then fails as cancelled); then answers that are not
// HTTP. Records every request.
class ScriptedTransport final : public HttpTransport {
public:
    using Step = test::Script<HttpResponse>::Answer;
    static constexpr long stalls = -1;

    static Step status(long code, std::string body = {}) { return HttpResponse{code, body}; }
    static Step fail(TransportError::Code code) {
        return std::make_exception_ptr(TransportError(code, "scripted"));
    }
    static Step stall() { return HttpResponse{stalls, ""}; }

    explicit ScriptedTransport(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            script_.push({step});
        }
    }

    HttpResponse perform(const HttpRequest& request, std::stop_token stop) override {
        {
            std::lock_guard lock(mutex_);
            performed_.push_back(request);
        }
        HttpResponse response = script_.next({0, "unscripted"});
        if (response.status == stalls) {
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any().wait(lock, stop, [] { return false; });
            throw TransportError(TransportError::Code::cancelled, "stopped");
        }
        return response;
    }

    std::vector<HttpRequest> performed() const {
        std::lock_guard lock(mutex_);
        return performed_;
    }

private:
    test::Script<HttpResponse> script_;
    mutable std::mutex mutex_;
    std::vector<HttpRequest> performed_;
};

using S = ScriptedTransport;
using Code = TransportError::Code;

// A client whose sessions all answer from one script, in the order they ask, with the hedge's
// timers on virtual time. Counts the hedge sessions made and still open.
struct Fixture {
    std::shared_ptr<ScriptedTransport> session;
    std::shared_ptr<testing::VirtualSleeper> clock = std::make_shared<testing::VirtualSleeper>();
    int hedgeSessionsMade = 0;
    std::atomic<int> hedgeSessionsOpen = 0;
    APIClient client;

    explicit Fixture(const std::vector<S::Step>& steps, std::string base = "http://127.0.0.1:9")
        : session(std::make_shared<ScriptedTransport>(steps)),
          client(
              *Url::parse(base), session, [this] { return hedgeSession(); }, clock) {}

    std::unique_ptr<HttpTransport> hedgeSession() {
        struct Counted final : HttpTransport {
            Fixture& f;
            explicit Counted(Fixture& fixture) : f(fixture) { ++f.hedgeSessionsOpen; }
            ~Counted() override { --f.hedgeSessionsOpen; }
            HttpResponse perform(const HttpRequest& request, std::stop_token stop) override {
                return f.session->perform(request, stop);
            }
        };
        ++hedgeSessionsMade;
        return std::make_unique<Counted>(*this);
    }
};

// The APIError an operation failed with, or nullopt when it returned normally.
template <class Operation>
std::optional<APIError> errorOf(Operation operation) {
    try {
        operation();
    } catch (const APIFailure& failure) {
        return failure.error;
    }
    return std::nullopt;
}

const std::vector<std::uint8_t> wav(80, 7);

// What transcribe gave: a result, an error, or monostate when it was cancelled.
using Outcome = std::variant<std::monostate, TranscribeResult, APIError>;

Outcome transcribed(Fixture& fixture, std::stop_token stop = {}) {
    try {
        return fixture.client.transcribe("tok", wav, 10.0, stop);
    } catch (const APIFailure& failure) {
        return failure.error;
    } catch (const RequestCancelled&) {
        return {};
    }
}

std::string boundaryOf(const HttpRequest& request) {
    const std::string prefix = "multipart/form-data; boundary=";
    EXPECT_EQ(request.header("Content-Type")->rfind(prefix, 0), 0u);
    return request.header("Content-Type")->substr(prefix.size());
}

// A transient failure (no answer, or an error status) starts the hedge at once on a session of
// its own, with the same request; a final one ends the call. No timer is waited for.
TEST(APIClientTranscribe, UploadsTheRecordingAndTurnsEveryAnswerIntoAResultOrAnError) {
    using R = TranscribeResult;
    const auto ok = [](const char* body) { return S::status(200, body); };
    const S::Step lost = S::fail(Code::networkConnectionLost);
    const std::string one = R"({"text":"t","duration":1})";
    struct Row {
        const char* name;
        std::vector<S::Step> steps;  // of the attempts in turn
        Outcome expected;
    };
    const Row rows[] = {
        {"valid", {ok(R"({"text":"你好","duration":2.25,"extra":[1]})")}, R{"你好", 2.25}},
        {"integer duration", {ok(R"({"text":"t","duration":2})")}, R{"t", 2.0}},
        {"empty text", {ok(R"({"text":"","duration":0.5})")}, R{"", 0.5}},
        {"no duration", {ok(R"({"text":"t"})")}, APIError::badResponse},
        {"duration as text", {ok(R"({"text":"t","duration":"2"})")}, APIError::badResponse},
        {"null text", {ok(R"({"text":null,"duration":1})")}, APIError::badResponse},
        {"array", {ok(R"([{"text":"t","duration":1}])")}, APIError::badResponse},
        {"empty body", {ok("")}, APIError::badResponse},
        {"partial JSON", {ok(R"({"text":"t","dura)")}, APIError::badResponse},
        {"401", {S::status(401, one)}, APIError::unauthorized},
        {"429", {S::status(429)}, APIError::rateLimited},
        {"503, then 200", {S::status(503), ok(R"({"text":"2nd","duration":3})")}, R{"2nd", 3}},
        {"500 twice", {S::status(500), S::status(500)}, APIError::asrFailed},
        {"404, then 201", {S::status(404), S::status(201, one)}, APIError::asrFailed},
        {"not HTTP, then lost", {S::status(0), lost}, APIError::network},
        {"lost, then 503", {lost, S::status(503)}, APIError::asrFailed},
    };
    std::string previousBoundary;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture(row.steps);
        EXPECT_EQ(transcribed(fixture), row.expected);
        const auto sent = fixture.session->performed();
        ASSERT_EQ(sent.size(), row.steps.size());
        EXPECT_EQ(fixture.hedgeSessionsMade, static_cast<int>(row.steps.size()) - 1);
        EXPECT_EQ(fixture.hedgeSessionsOpen, 0);  // closed when its attempt ended
        EXPECT_EQ(fixture.clock->now(), 0ns);
        EXPECT_EQ(sent[0].method + " " + sent[0].url, "POST http://127.0.0.1:9/v1/transcribe");
        EXPECT_EQ(*sent[0].header("Authorization"), "Bearer tok");
        EXPECT_EQ(sent[0].timeout, 60s);
        const std::string boundary = boundaryOf(sent[0]);
        EXPECT_NE(boundary, previousBoundary);
        previousBoundary = boundary;
        EXPECT_EQ(sent[0].body, MultipartBody::transcription(boundary, wav, Config::appVersion()));
        EXPECT_EQ(sent.back().body, sent[0].body);
    }
}

// The hedge of a 10-second recording starts at 5.5 s; the deadline (13 s) or the caller's stop
// ends a call whose attempts both stall.
TEST(APIClientTranscribe, TheHedgeRacesAStalledFirstAttempt) {
    Fixture hedged({S::stall(), S::status(200, R"({"text":"hedge","duration":1})")});
    auto call = std::async(std::launch::async, [&] { return transcribed(hedged); });
    hedged.clock->waitForSleeps(1);
    EXPECT_EQ(hedged.clock->requested().at(0), 5500ms);
    hedged.clock->advanceTo(5500ms);
    EXPECT_EQ(call.get(), Outcome(TranscribeResult{"hedge", 1}));
    EXPECT_EQ(hedged.hedgeSessionsOpen, 0);

    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped);
        Fixture fixture({S::stall(), S::stall()});
        std::stop_source stop;
        auto stalled =
            std::async(std::launch::async, [&] { return transcribed(fixture, stop.get_token()); });
        fixture.clock->waitForSleeps(1);
        fixture.clock->advanceTo(5500ms);
        fixture.clock->waitForSleeps(2);
        stopped ? (void)stop.request_stop() : fixture.clock->advanceTo(13s);
        EXPECT_EQ(stalled.get(), stopped ? Outcome() : Outcome(APIError::timedOut));
        EXPECT_EQ(fixture.hedgeSessionsOpen, 0);
    }
}

TEST(APIClientSend, FollowsTheRetryRule) {
    const Code unknown = Code::unknown;
    struct Row {
        const char* name;
        std::vector<S::Step> steps;
        std::optional<long> returnedStatus;  // nullopt: throws APIError::network
        std::size_t tries;
    };
    const Row rows[] = {
        {"200", {S::status(200)}, 200, 1},
        {"499", {S::status(499)}, 499, 1},
        {"not HTTP", {S::status(0)}, 0, 1},
        {"503, 200", {S::status(503), S::status(200)}, 200, 2},
        {"500, 500", {S::status(500), S::status(500)}, 500, 2},
        {"no network", {S::fail(Code::notConnectedToInternet)}, {}, 1},
        {"unknown, 503", {S::fail(Code::unknown), S::status(503)}, 503, 2},
        {"unknown, cancelled", {S::fail(Code::unknown), S::fail(Code::cancelled)}, {}, 2},
        {"cancelled, timed out", {S::fail(Code::cancelled), S::fail(Code::timedOut)}, {}, 2},
        {"502, cancelled, 502", {S::status(502), S::fail(Code::cancelled), S::status(502)}, 502, 3},
        {"502, lost", {S::status(502), S::fail(Code::networkConnectionLost)}, {}, 2},
        {"502, unknown, unknown", {S::status(502), S::fail(unknown), S::fail(unknown)}, {}, 3},
        {"odd, 200", {std::make_exception_ptr(std::runtime_error("odd")), S::status(200)}, 200, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture(row.steps);
        std::optional<long> returned;
        const auto error = errorOf([&] {
            returned = fixture.client.send(fixture.client.transcribeRequest("t", wav)).status;
        });
        EXPECT_EQ(returned, row.returnedStatus);
        EXPECT_EQ(error, row.returnedStatus ? std::nullopt : std::optional(APIError::network));
        EXPECT_EQ(fixture.session->performed().size(), row.tries);
    }
}

TEST(APIClientSend, AStoppedCallerIsNotRetried) {
    Fixture fixture({S::fail(Code::cancelled), S::status(200)});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(fixture.client.send(fixture.client.transcribeRequest("t", wav), stop.get_token()),
                 RequestCancelled);
    EXPECT_EQ(fixture.session->performed().size(), 1u);
}

TEST(APIClientReportCrash, UploadsTheExactBodyAndSucceedsOnExactly200) {
    const std::pair<S::Step, std::optional<APIError>> rows[] = {
        {S::status(200), std::nullopt},
        {S::status(201), APIError::badResponse},
        {S::status(404), APIError::badResponse},
        {S::status(0), APIError::badResponse},
        {S::fail(Code::cannotConnectToHost), APIError::network},
    };
    for (const auto& [answer, expected] : rows) {
        Fixture fixture({answer});
        EXPECT_EQ(errorOf([&] { fixture.client.reportCrash("tok", {}, "Debian 12"); }), expected);
        const HttpRequest sent = fixture.session->performed().at(0);
        EXPECT_EQ(sent.method + " " + sent.url, "POST http://127.0.0.1:9/v1/crash");
        EXPECT_EQ(*sent.header("Authorization"), "Bearer tok");
        EXPECT_EQ(sent.body, MultipartBody::crashReport(boundaryOf(sent), {}, Config::appVersion(),
                                                        "Debian 12", "linux"));
    }
}

TEST(APIClientPing, IgnoresEveryOutcomeAndNeverRetries) {
    for (const auto& answer : {S::fail(Code::unknown), S::status(503)}) {
        Fixture fixture({answer});
        fixture.client.ping();
        ASSERT_EQ(fixture.session->performed().size(), 1u);
        const HttpRequest sent = fixture.session->performed().at(0);
        EXPECT_EQ(sent.method + " " + sent.url, "GET http://127.0.0.1:9/health");
        EXPECT_TRUE(sent.headers.empty());
        EXPECT_EQ(sent.timeout, std::chrono::seconds(8));
    }
}

TEST(APIClientCredentials, AreNeverSentOverPlainHttpToARemoteHost) {
    struct Row {
        const char* url;
        bool exposes;
    };
    for (Row row :
         {Row{"http://example.org/v1/transcribe", true}, Row{"http://10.0.0.2:8177/v1/crash", true},
          Row{"https://example.org/v1/transcribe", false},
          Row{"http://127.0.0.1:8177/v1/transcribe", false},
          Row{"http://127.8.9.1/v1/transcribe", false}, Row{"http://localhost:80/x", false},
          Row{"http://[::1]:8177/x", false}, Row{"http://[::2]:8177/x", true},
          Row{"ftp://127.0.0.1/x", true}, Row{"not a url", true}}) {
        HttpRequest request;
        request.url = row.url;
        EXPECT_FALSE(APIClient::exposesCredentials(request)) << "no token, " << row.url;
        request.headers = {{"Authorization", "Bearer t"}};
        EXPECT_EQ(APIClient::exposesCredentials(request), row.exposes) << row.url;
    }

    // Every operation with a token or an invitation fails without a single request.
    Fixture remote({S::status(200, R"({"token":"c"})")}, "http://dictation.example.org");
    EXPECT_EQ(errorOf([&] { remote.client.transcribe("secret", wav, 1.0); }), APIError::network);
    EXPECT_EQ(errorOf([&] { remote.client.reportCrash("secret", wav, "os"); }), APIError::network);
    EXPECT_EQ(errorOf([&] { remote.client.registerDevice({}, "9d2f4b7c1e8a6053"); }),
              APIError::network);
    EXPECT_THROW(remote.client.openStream("secret")->finish({}), StreamFailed);
    EXPECT_EQ(remote.session->performed().size(), 0u);
    EXPECT_EQ(remote.hedgeSessionsMade, 0);
    EXPECT_EQ(remote.client.registerDevice(), "c");  // nothing secret in a plain registration
}

TEST(APIClientRegister, ReadsTheTokenOfA200) {
    struct Row {
        S::Step answer;
        std::optional<APIError> error;  // nullopt with status 404/405: RegistrationNotOffered
        std::string token{};
    };
    const Row rows[] = {
        {S::status(200, R"({"token":"abc"})"), std::nullopt, "abc"},
        {S::status(200, R"({"token":""})"), APIError::badResponse},
        {S::status(200, R"({"token":7})"), APIError::badResponse},
        {S::status(200, "[]"), APIError::badResponse},
        {S::status(201, R"({"token":"abc"})"), APIError::badResponse},
        {S::status(429), APIError::rateLimited},
        {S::status(403), APIError::unauthorized},  // no or a wrong invitation
        {S::status(401), APIError::unauthorized},
        {S::status(400), APIError::badResponse},
        {S::fail(Code::cannotConnectToHost), APIError::network},
        {S::status(404), std::nullopt},
        {S::status(405), std::nullopt},
    };
    for (const Row& row : rows) {
        Fixture fixture({row.answer});
        std::string token{};
        try {
            EXPECT_EQ(errorOf([&] { token = fixture.client.registerDevice(); }), row.error);
        } catch (const RegistrationNotOffered& error) {
            EXPECT_TRUE(error.status() == 404 || error.status() == 405) << error.status();
        }
        EXPECT_EQ(token, row.token);
    }
}

TEST(APIClientRegister, SendsAnInvitationCodeOnlyWhenGiven) {
    Fixture fixture({S::status(200, R"({"token":"a"})"), S::status(200, R"({"token":"b"})")});
    EXPECT_EQ(fixture.client.registerDevice(), "a");
    EXPECT_EQ(fixture.client.registerDevice({}, "9d2f4b7c1e8a6053"), "b");
    const auto sent = fixture.session->performed();
    EXPECT_TRUE(sent.at(0).headers.empty());
    EXPECT_EQ(sent.at(1).headers,
              (decltype(sent[1].headers){{"Sayloft-Invite", "9d2f4b7c1e8a6053"}}));
    EXPECT_THROW(fixture.client.registerDevice({}, "a\r\nX-Injected: 1"), std::invalid_argument);
}

const std::string fixedBoundary = "wordcast-0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0";

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(MultipartBody, BoundaryIsWordcastAndARandomVersion4UuidInUpperCase) {
    const std::regex canonical(
        "wordcast-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string boundary = MultipartBody::newBoundary();
        ASSERT_TRUE(std::regex_match(boundary, canonical)) << boundary;
        seen.insert(boundary);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_EQ(MultipartBody::contentType(fixedBoundary),
              "multipart/form-data; boundary=" + fixedBoundary);
}

// Both bodies with payloads holding NUL, CR LF and a would-be delimiter, passed on untouched.
TEST(MultipartBody, BodiesAreExact) {
    const std::string payload("RIFF\x00\x01\r\n--\xff", 11);
    auto part = [](const std::string& disposition, const std::string& value) {
        return "--" + fixedBoundary + "\r\nContent-Disposition: form-data; " + disposition +
               "\r\n" + value + "\r\n";
    };
    EXPECT_EQ(
        MultipartBody::transcription(fixedBoundary, bytes(payload), "1.2.3"),
        part("name=\"file\"; filename=\"a.wav\"", "Content-Type: audio/wav\r\n\r\n" + payload) +
            part("name=\"app_version\"", "\r\n1.2.3") + "--" + fixedBoundary + "--\r\n");
    EXPECT_EQ(
        MultipartBody::crashReport(fixedBoundary, bytes(payload), "dev", "Debian 12", "linux"),
        part("name=\"file\"; filename=\"crash.ips\"",
             "Content-Type: application/octet-stream\r\n\r\n" + payload) +
            part("name=\"app_version\"", "\r\ndev") + part("name=\"os_version\"", "\r\nDebian 12") +
            part("name=\"platform\"", "\r\nlinux") + "--" + fixedBoundary + "--\r\n");
}

}  // namespace
}  // namespace sayloft
