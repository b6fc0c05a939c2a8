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

HttpRequest someRequest() {
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:9/v1/crash";
    request.body = "x";
    return request;
}

struct SendCase {
    const char* name;
    std::vector<ScriptedTransport::Step> steps;
    std::optional<long> returnedStatus;  // nullopt: throws APIError::network
    std::size_t tries;
};

TEST(APIClientSend, FollowsTheRetryRule) {
    using S = ScriptedTransport;
    const SendCase cases[] = {
        {"200 at once", {S::status(200)}, 200, 1},
        {"404 returned at once", {S::status(404)}, 404, 1},
        {"499 returned at once", {S::status(499)}, 499, 1},
        {"not HTTP returned at once", {S::status(0)}, 0, 1},
        {"503 then 200", {S::status(503), S::status(200)}, 200, 2},
        {"500 twice: second 500 returned", {S::status(500), S::status(500)}, 500, 2},
        {"500 then 404", {S::status(500), S::status(404)}, 404, 2},
        {"no network: one try", {S::fail(Code::notConnectedToInternet)}, std::nullopt, 1},
        {"TLS failure then 200", {S::fail(Code::secureConnectionFailed), S::status(200)}, 200, 2},
        {"TLS failure then 503: returned", {S::fail(Code::unknown), S::status(503)}, 503, 2},
        {"two retryable failures",
         {S::fail(Code::unknown), S::fail(Code::secureConnectionFailed)},
         std::nullopt,
         2},
        {"retryable then connectivity failure",
         {S::fail(Code::cancelled), S::fail(Code::timedOut)},
         std::nullopt,
         2},
        {"502, cancelled, 200", {S::status(502), S::fail(Code::cancelled), S::status(200)}, 200, 3},
        {"502, cancelled, 502: returned",
         {S::status(502), S::fail(Code::cancelled), S::status(502)},
         502,
         3},
        {"502, connection lost",
         {S::status(502), S::fail(Code::networkConnectionLost)},
         std::nullopt,
         2},
        {"502, two retryable failures",
         {S::status(502), S::fail(Code::unknown), S::fail(Code::unknown)},
         std::nullopt,
         3},
        {"not a transport error, then 200",
         {S::failWith(std::make_exception_ptr(std::runtime_error("odd"))), S::status(200)},
         200,
         2},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture fixture(c.steps);
        if (c.returnedStatus) {
            EXPECT_EQ(fixture.client.send(someRequest()).status, *c.returnedStatus);
        } else {
            try {
                fixture.client.send(someRequest());
                ADD_FAILURE() << "no error";
            } catch (const APIFailure& failure) {
                EXPECT_EQ(failure.error, APIError::network);
            }
        }
        EXPECT_EQ(fixture.session->tries(), c.tries);
    }
}

TEST(APIClientSend, EveryConnectivityFailureFailsAfterOneTry) {
    for (Code code : {Code::notConnectedToInternet, Code::networkConnectionLost,
                      Code::cannotFindHost, Code::dnsLookupFailed, Code::cannotConnectToHost,
                      Code::timedOut, Code::internationalRoamingOff, Code::dataNotAllowed}) {
        Fixture fixture({ScriptedTransport::fail(code)});
        EXPECT_THROW(fixture.client.send(someRequest()), APIFailure);
        EXPECT_EQ(fixture.session->tries(), 1u);
    }
}

TEST(APIClientSend, ReturnsTheBodyOfTheAnswerThatEndedIt) {
    Fixture fixture({ScriptedTransport::status(503, "busy"), ScriptedTransport::status(200, "ok")});
    EXPECT_EQ(fixture.client.send(someRequest()).body, "ok");
}

TEST(APIClientSend, AStoppedCallerIsNotRetried) {
    Fixture fixture({ScriptedTransport::fail(Code::cancelled), ScriptedTransport::status(200)});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(fixture.client.send(someRequest(), stop.get_token()), RequestCancelled);
    EXPECT_EQ(fixture.session->tries(), 1u);
}

TEST(APIClientReportCrash, SucceedsOnExactly200) {
    struct Row {
        long status;
        bool ok;
    };
    for (Row row :
         {Row{200, true}, Row{201, false}, Row{204, false}, Row{404, false}, Row{0, false}}) {
        Fixture fixture({ScriptedTransport::status(row.status)});
        const std::vector<std::uint8_t> report{'{', '}'};
        if (row.ok) {
            EXPECT_NO_THROW(fixture.client.reportCrash("tok", report, "os"));
        } else {
            try {
                fixture.client.reportCrash("tok", report, "os");
                ADD_FAILURE() << row.status;
            } catch (const APIFailure& failure) {
                EXPECT_EQ(failure.error, APIError::badResponse) << row.status;
            }
        }
    }
}

TEST(APIClientReportCrash, RetriesA5xxAndPassesOnNetwork) {
    Fixture retried({ScriptedTransport::status(503), ScriptedTransport::status(200)});
    EXPECT_NO_THROW(retried.client.reportCrash("tok", {}, "os"));
    EXPECT_EQ(retried.session->tries(), 2u);

    Fixture offline({ScriptedTransport::fail(Code::cannotConnectToHost)});
    try {
        offline.client.reportCrash("tok", {}, "os");
        ADD_FAILURE();
    } catch (const APIFailure& failure) {
        EXPECT_EQ(failure.error, APIError::network);
    }
}

TEST(APIClientPing, IgnoresEveryOutcomeAndNeverRetries) {
    Fixture failing({ScriptedTransport::fail(Code::unknown)});
    failing.client.ping();
    Fixture erroring({ScriptedTransport::status(503)});
    erroring.client.ping();
    EXPECT_EQ(failing.session->tries(), 1u);
    EXPECT_EQ(erroring.session->tries(), 1u);
    const HttpRequest sent = erroring.session->performed().at(0);
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.url, "http://127.0.0.1:9/health");
    EXPECT_TRUE(sent.headers.empty());
    EXPECT_TRUE(sent.body.empty());
    EXPECT_EQ(sent.timeout, std::chrono::seconds(8));
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

    // Every authenticated operation fails as network without a single request.
    Fixture remote({}, "http://dictation.example.org");
    const std::vector<std::uint8_t> wav(100, 0);
    for (int operation = 0; operation < 2; ++operation) {
        try {
            if (operation == 0) {
                remote.client.transcribe("secret", wav, 1.0);
            } else {
                remote.client.reportCrash("secret", wav, "os");
            }
            ADD_FAILURE() << operation;
        } catch (const APIFailure& failure) {
            EXPECT_EQ(failure.error, APIError::network);
        }
    }
    EXPECT_EQ(remote.session->tries(), 0u);
    EXPECT_EQ(remote.hedgeSessionsMade, 0);
}

TEST(APIClientTranscribeRequest, CarriesTheBearerTokenAndTheMultipartType) {
    Fixture fixture({});
    for (const char* token : {"", "abc"}) {
        const HttpRequest request = fixture.client.transcribeRequest(token, {});
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.url, "http://127.0.0.1:9/v1/transcribe");
        EXPECT_EQ(request.timeout, std::chrono::seconds(60));
        ASSERT_EQ(request.headers.size(), 2u);
        EXPECT_EQ(request.headers[0].first, "Authorization");
        EXPECT_EQ(request.headers[0].second, std::string("Bearer ") + token);  // "Bearer " if empty
        EXPECT_EQ(request.headers[1].first, "Content-Type");
        EXPECT_EQ(request.headers[1].second.rfind("multipart/form-data; boundary=wordcast-", 0),
                  0u);
    }
}

TEST(APIClientRegister, ReadsTheTokenOfA200) {
    using S = ScriptedTransport;
    struct Row {
        S::Step answer;
        std::optional<std::string> token;
        APIError error;
    };
    const Row rows[] = {
        {S::status(200, R"({"token":"abc"})"), "abc", APIError::badResponse},
        {S::status(200, R"({"token":""})"), std::nullopt, APIError::badResponse},
        {S::status(200, R"({"token":7})"), std::nullopt, APIError::badResponse},
        {S::status(200, "[]"), std::nullopt, APIError::badResponse},
        {S::status(201, R"({"token":"abc"})"), std::nullopt, APIError::badResponse},
        {S::status(429), std::nullopt, APIError::rateLimited},
        {S::status(403), std::nullopt, APIError::unauthorized},  // no or a wrong invitation
        {S::status(401), std::nullopt, APIError::unauthorized},
        {S::status(400), std::nullopt, APIError::badResponse},
        {S::fail(Code::cannotConnectToHost), std::nullopt, APIError::network},
    };
    for (const Row& row : rows) {
        Fixture fixture({row.answer});
        if (row.token) {
            EXPECT_EQ(fixture.client.registerDevice(), *row.token);
        } else {
            try {
                fixture.client.registerDevice();
                ADD_FAILURE();
            } catch (const APIFailure& failure) {
                EXPECT_EQ(failure.error, row.error);
            }
        }
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

TEST(APIClientRegister, A404Or405SaysTheServiceHasNoRegistration) {
    for (const int status : {404, 405}) {
        Fixture fixture({ScriptedTransport::status(status)});
        try {
            fixture.client.registerDevice();
            ADD_FAILURE() << status;
        } catch (const RegistrationNotOffered& error) {
            EXPECT_EQ(error.status(), status);
        }
    }
}

}  // namespace
}  // namespace sayloft
