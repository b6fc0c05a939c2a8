#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedTransport.h"
#include "VirtualSleeper.h"
#include "core/net/APIClient.h"
#include "core/net/RegistrationNotOffered.h"
#include "core/net/RequestCancelled.h"
#include "core/net/StreamFailed.h"

namespace sayloft {
namespace {

using testing::ScriptedTransport;
using Code = TransportError::Code;

struct Fixture {
    std::shared_ptr<ScriptedTransport> session;
    int hedgeSessionsMade = 0;
    APIClient client;

    explicit Fixture(std::vector<ScriptedTransport::Step> steps,
                     std::string base = "http://127.0.0.1:9")
        : session(std::make_shared<ScriptedTransport>(std::move(steps))),
          client(
              *Url::parse(base), session,
              [this] {
                  ++hedgeSessionsMade;
                  return std::make_unique<ScriptedTransport>(
                      std::vector<ScriptedTransport::Step>{});
              },
              std::make_shared<testing::VirtualSleeper>()) {}
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

HttpRequest someRequest() {
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:9/v1/crash";
    request.body = "x";
    return request;
}

TEST(APIClientSend, FollowsTheRetryRule) {
    using S = ScriptedTransport;
    struct Row {
        const char* name;
        std::vector<S::Step> steps;
        std::optional<long> returnedStatus;  // nullopt: throws APIError::network
        std::size_t tries;
    };
    const Row rows[] = {
        {"200 at once", {S::status(200)}, 200, 1},
        {"499 returned at once", {S::status(499)}, 499, 1},
        {"not HTTP returned at once", {S::status(0)}, 0, 1},
        {"503 then 200", {S::status(503), S::status(200)}, 200, 2},
        {"500 twice: second 500 returned", {S::status(500), S::status(500)}, 500, 2},
        {"no network: one try", {S::fail(Code::notConnectedToInternet)}, std::nullopt, 1},
        {"TLS failure then 503: returned", {S::fail(Code::unknown), S::status(503)}, 503, 2},
        {"two retryable failures", {S::fail(Code::unknown), S::fail(Code::cancelled)}, {}, 2},
        {"retryable then connectivity failure",
         {S::fail(Code::cancelled), S::fail(Code::timedOut)},
         std::nullopt,
         2},
        {"502, cancelled, 502: returned",
         {S::status(502), S::fail(Code::cancelled), S::status(502)},
         502,
         3},
        {"502, connection lost", {S::status(502), S::fail(Code::networkConnectionLost)}, {}, 2},
        {"502, two retryable failures",
         {S::status(502), S::fail(Code::unknown), S::fail(Code::unknown)},
         std::nullopt,
         3},
        {"not a transport error, then 200",
         {S::failWith(std::make_exception_ptr(std::runtime_error("odd"))), S::status(200)},
         200,
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture(row.steps);
        std::optional<long> returned;
        const auto error = errorOf([&] { returned = fixture.client.send(someRequest()).status; });
        EXPECT_EQ(returned, row.returnedStatus);
        EXPECT_EQ(error, row.returnedStatus ? std::nullopt : std::optional(APIError::network));
        EXPECT_EQ(fixture.session->tries(), row.tries);
    }
}

TEST(APIClientSend, AStoppedCallerIsNotRetried) {
    Fixture fixture({ScriptedTransport::fail(Code::cancelled), ScriptedTransport::status(200)});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(fixture.client.send(someRequest(), stop.get_token()), RequestCancelled);
    EXPECT_EQ(fixture.session->tries(), 1u);
}

TEST(APIClientReportCrash, SucceedsOnExactly200) {
    using S = ScriptedTransport;
    const std::pair<S::Step, std::optional<APIError>> rows[] = {
        {S::status(200), std::nullopt},
        {S::status(201), APIError::badResponse},
        {S::status(404), APIError::badResponse},
        {S::status(0), APIError::badResponse},
        {S::fail(Code::cannotConnectToHost), APIError::network},
    };
    for (const auto& [answer, expected] : rows) {
        Fixture fixture({answer});
        EXPECT_EQ(errorOf([&] { fixture.client.reportCrash("tok", {}, "os"); }), expected);
    }
}

TEST(APIClientPing, IgnoresEveryOutcomeAndNeverRetries) {
    for (const auto& answer :
         {ScriptedTransport::fail(Code::unknown), ScriptedTransport::status(503)}) {
        Fixture fixture({answer});
        fixture.client.ping();
        ASSERT_EQ(fixture.session->tries(), 1u);
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

    // Every authenticated operation fails without a single request.
    Fixture remote({}, "http://dictation.example.org");
    const std::vector<std::uint8_t> wav(100, 0);
    EXPECT_EQ(errorOf([&] { remote.client.transcribe("secret", wav, 1.0); }), APIError::network);
    EXPECT_EQ(errorOf([&] { remote.client.reportCrash("secret", wav, "os"); }), APIError::network);
    EXPECT_THROW(remote.client.openStream("secret")->finish({}), StreamFailed);
    EXPECT_EQ(remote.session->tries(), 0u);
    EXPECT_EQ(remote.hedgeSessionsMade, 0);
}

TEST(APIClientRegister, ReadsTheTokenOfA200) {
    using S = ScriptedTransport;
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

TEST(APIClientRegister, SendsAnInvitationCodeOnlyWhenGivenAndNeverOverPlainHttpToAnotherHost) {
    Fixture fixture({ScriptedTransport::status(200, R"({"token":"a"})"),
                     ScriptedTransport::status(200, R"({"token":"b"})")});
    EXPECT_EQ(fixture.client.registerDevice(), "a");
    EXPECT_EQ(fixture.client.registerDevice({}, "9d2f4b7c1e8a6053"), "b");
    const auto sent = fixture.session->performed();
    EXPECT_TRUE(sent.at(0).headers.empty());
    ASSERT_NE(sent.at(1).header("Sayloft-Invite"), nullptr);
    EXPECT_EQ(*sent.at(1).header("Sayloft-Invite"), "9d2f4b7c1e8a6053");
    EXPECT_THROW(fixture.client.registerDevice({}, "a\r\nX-Injected: 1"), std::invalid_argument);

    Fixture remote({ScriptedTransport::status(200, R"({"token":"c"})")},
                   "http://dictation.example.org");
    EXPECT_THROW(remote.client.registerDevice({}, "9d2f4b7c1e8a6053"), APIFailure);
    EXPECT_EQ(remote.session->tries(), 0u);
    EXPECT_EQ(remote.client.registerDevice(), "c");  // nothing secret in a plain registration
}

}  // namespace
}  // namespace sayloft
