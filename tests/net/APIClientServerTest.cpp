#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "VirtualSleeper.h"
#include "core/audio/Recorder.h"
#include "core/config/Config.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/MultipartBody.h"
#include "core/net/RequestCancelled.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackServer;
using Handler = LoopbackServer::Handler;

// A real client (libcurl sessions) against a real scripted server, with the hedge's timers on
// virtual time. Counts the hedge sessions made and closed.
struct Rig {
    LoopbackServer server;
    testing::VirtualSleeper clock;
    std::atomic<int> hedgeSessionsOpen = 0;
    std::atomic<int> hedgeSessionsMade = 0;
    APIClient client;

    explicit Rig(Handler handler)
        : server(std::move(handler)),
          client(server.url(), std::make_shared<CurlSession>(), makeHedgeSession(),
                 std::shared_ptr<Sleeper>(&clock, [](Sleeper*) {})) {}

    HttpTransportFactory makeHedgeSession() {
        return [this]() -> std::unique_ptr<HttpTransport> {
            struct Counted final : HttpTransport {
                Rig& rig;
                CurlSession session;
                explicit Counted(Rig& r) : rig(r) { ++rig.hedgeSessionsOpen; }
                ~Counted() override { --rig.hedgeSessionsOpen; }
                HttpResponse perform(const HttpRequest& request, std::stop_token stop) override {
                    return session.perform(request, stop);
                }
            };
            ++hedgeSessionsMade;
            return std::make_unique<Counted>(*this);
        };
    }
};

const std::vector<std::uint8_t> someWav =
    Recorder::encodeWav(std::vector<std::int16_t>(800, 7), 16000);

std::string boundaryOf(const testing::RecordedRequest& request) {
    const std::string contentType = request.headers.find("Content-Type")->second;
    const std::string prefix = "multipart/form-data; boundary=";
    EXPECT_EQ(contentType.rfind(prefix, 0), 0u);
    return contentType.substr(prefix.size());
}

using Outcome = std::variant<TranscribeResult, APIError>;

Outcome outcomeOf(const std::function<TranscribeResult()>& call) {
    try {
        return call();
    } catch (const APIFailure& failure) {
        return failure.error;
    }
}

TEST(APIClientTranscribe, UploadsTheMultipartBodyUnderANewBoundaryEachCall) {
    Rig rig([](const auto&, auto& res, std::size_t index) {
        LoopbackServer::reply(res, index == 0 ? 503 : 200, R"({"text":"hi","duration":1.5})");
    });
    EXPECT_EQ(rig.client.transcribe("tok", someWav, 0.05), (TranscribeResult{"hi", 1.5}));
    rig.client.transcribe("tok", {}, 0.05);
    const auto received = rig.server.requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].path, "/v1/transcribe");
    EXPECT_EQ(received[0].headers.find("Authorization")->second, "Bearer tok");
    const std::string b = boundaryOf(received[0]);
    EXPECT_EQ(received[0].body, MultipartBody::transcription(b, someWav, Config::appVersion()));
    EXPECT_EQ(received[1].body, received[0].body);  // the hedge repeats the same request
    EXPECT_NE(boundaryOf(received[2]), b);
    EXPECT_EQ(received[2].body,
              MultipartBody::transcription(boundaryOf(received[2]), {}, Config::appVersion()));
}

struct AnswerRow {
    const char* name;
    int status;
    std::string body;
    Outcome expected;
};

TEST(APIClientTranscribeOnce, TurnsEveryAnswerIntoAResultOrAnError) {
    const AnswerRow rows[] = {
        {"valid", 200, R"({"text":"你好 world","duration":2.25,"extra":[1]})",
         TranscribeResult{"你好 world", 2.25}},
        {"integer duration", 200, R"({"text":"t","duration":2})", TranscribeResult{"t", 2.0}},
        {"empty text is a success", 200, R"({"text":"","duration":0.5})",
         TranscribeResult{"", 0.5}},
        {"no duration", 200, R"({"text":"t"})", APIError::badResponse},
        {"duration as text", 200, R"({"text":"t","duration":"2"})", APIError::badResponse},
        {"null text", 200, R"({"text":null,"duration":1})", APIError::badResponse},
        {"top-level array", 200, R"([{"text":"t","duration":1}])", APIError::badResponse},
        {"empty body", 200, "", APIError::badResponse},
        {"partial JSON", 200, R"({"text":"t","dura)", APIError::badResponse},
        {"401", 401, R"({"text":"t","duration":1})", APIError::unauthorized},
        {"429", 429, "", APIError::rateLimited},
        {"503", 503, R"({"text":"t","duration":1})", APIError::asrFailed},
        {"500", 500, "", APIError::asrFailed},
        {"404", 404, "", APIError::asrFailed},
        {"201", 201, R"({"text":"t","duration":1})", APIError::asrFailed},
        {"dropped mid-answer", -1, "", APIError::network},
    };
    for (const AnswerRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig([&row](const auto&, auto& res, std::size_t) {
            if (row.status < 0) {
                LoopbackServer::dropMidAnswer(res);
            } else {
                LoopbackServer::reply(res, row.status, row.body);
            }
        });
        CurlSession session;
        const HttpRequest request = rig.client.transcribeRequest("t", someWav);
        EXPECT_EQ(outcomeOf([&] { return APIClient::transcribeOnce(request, session); }),
                  row.expected);
    }
}

// A final error returns at once without a hedge (virtual time never moves); when both attempts
// fail, the later error is given.
TEST(APIClientTranscribe, FinalErrorsEndTheCallAndTransientOnesTryTheHedge) {
    struct Row {
        std::vector<int> statuses;  // of the attempts in turn; -1: drop the connection mid-answer
        APIError expected;
    };
    for (const Row& row :
         {Row{{401}, APIError::unauthorized}, Row{{429}, APIError::rateLimited},
          Row{{200}, APIError::badResponse}, Row{{503, 503}, APIError::asrFailed},
          Row{{-1, 503}, APIError::asrFailed}, Row{{500, -1}, APIError::network}}) {
        SCOPED_TRACE(row.statuses.front());
        Rig rig([&row](const auto&, auto& res, std::size_t index) {
            if (row.statuses.at(index) < 0) {
                LoopbackServer::dropMidAnswer(res);
            } else {
                LoopbackServer::reply(res, row.statuses.at(index), "{");
            }
        });
        EXPECT_EQ(outcomeOf([&] { return rig.client.transcribe("t", someWav, 10.0); }),
                  Outcome(row.expected));
        EXPECT_EQ(rig.server.requestCount(), row.statuses.size());
        EXPECT_EQ(rig.hedgeSessionsMade, static_cast<int>(row.statuses.size()) - 1);
    }
}

TEST(APIClientTranscribe, ATransientFailureStartsTheHedgeAtOnceOnItsOwnConnection) {
    Rig rig([](const auto&, auto& res, std::size_t index) {
        LoopbackServer::reply(res, index == 1 ? 503 : 200, R"({"text":"second","duration":3})");
    });
    rig.client.ping();  // warms the client's own connection
    EXPECT_EQ(rig.client.transcribe("t", someWav, 10.0), (TranscribeResult{"second", 3}));
    const auto received = rig.server.requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].path, "/health");
    EXPECT_EQ(received[1].remotePort, received[0].remotePort);  // first attempt reuses the ping's
    EXPECT_NE(received[2].remotePort, received[1].remotePort);  // the hedge opens its own
    EXPECT_EQ(rig.hedgeSessionsMade, 1);
    EXPECT_EQ(rig.hedgeSessionsOpen, 0);  // closed when its attempt ended
    EXPECT_EQ(rig.clock.now(), 0ns);
}

TEST(APIClientTranscribe, TheHedgeRacesAStalledFirstAttemptAndWins) {
    Rig rig([&](const auto&, auto& res, std::size_t index) {
        if (index == 0) {
            rig.server.gate(0).wait();
        }
        LoopbackServer::reply(res, 200, R"({"text":"hedge","duration":1})");
    });
    auto call =
        std::async(std::launch::async, [&] { return rig.client.transcribe("t", someWav, 10.0); });
    rig.server.waitForRequests(1);
    rig.clock.waitForSleeps(1);
    rig.clock.advanceTo(5499ms);
    EXPECT_EQ(rig.server.requestCount(), 1u);
    rig.clock.advanceTo(5500ms);  // the hedge delay of a 10-second recording
    EXPECT_EQ(call.get().text, "hedge");
    EXPECT_EQ(rig.server.requestCount(), 2u);
    EXPECT_EQ(rig.hedgeSessionsOpen, 0);
}

// Both attempts stall; the deadline or the caller's stop ends the call and its hedge session.
TEST(APIClientTranscribe, TheDeadlineOrAStopEndsAStalledCall) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped);
        Rig rig([&](const auto&, auto& res, std::size_t index) {
            rig.server.gate(index).wait();
            LoopbackServer::reply(res, 200, R"({"text":"late","duration":1})");
        });
        std::stop_source stop;
        auto call = std::async(std::launch::async, [&]() -> std::optional<Outcome> {
            try {
                return outcomeOf(
                    [&] { return rig.client.transcribe("t", someWav, 10.0, stop.get_token()); });
            } catch (const RequestCancelled&) {
                return std::nullopt;
            }
        });
        rig.clock.waitForSleeps(1);
        rig.clock.advanceTo(5500ms);
        rig.server.waitForRequests(2);
        stopped ? (void)stop.request_stop() : rig.clock.advanceTo(13s);
        EXPECT_EQ(call.get(), stopped ? std::nullopt : std::optional(Outcome(APIError::timedOut)));
        EXPECT_EQ(rig.hedgeSessionsOpen, 0);
    }
}

TEST(APIClientReportCrash, UploadsTheExactBodyAndRetriesA5xx) {
    Rig rig([](const auto&, auto& res, std::size_t index) {
        LoopbackServer::reply(res, index == 0 ? 503 : 200, "");
    });
    rig.client.reportCrash("tok", {}, "Debian GNU/Linux 12");
    const auto received = rig.server.requests();
    ASSERT_EQ(received.size(), 2u);
    const auto& request = received[1];
    EXPECT_EQ(request.path, "/v1/crash");
    EXPECT_EQ(request.headers.find("Authorization")->second, "Bearer tok");
    const std::string b = boundaryOf(request);
    EXPECT_EQ(request.body, MultipartBody::crashReport(b, {}, Config::appVersion(),
                                                       "Debian GNU/Linux 12", "linux"));
    EXPECT_EQ(received[0].body, request.body);  // the retry repeats the same request

    rig.client.reportCrash("tok", {}, "Debian GNU/Linux 12");
    EXPECT_NE(boundaryOf(rig.server.requests().at(2)), b);  // a new boundary for every upload
}

TEST(APIClientLeaks, NothingOutlivesTheCalls) {
    const std::size_t threads = testing::threadCount();
    const std::size_t descriptors = testing::openDescriptorCount();
    {
        Rig rig([&](const auto&, auto& res, std::size_t index) {
            // Per round: the ping, a 503 for the first attempt, the hedge's 200, a stall.
            if (index % 4 == 1) {
                LoopbackServer::reply(res, 503, "");
                return;
            }
            if (index % 4 == 3) {
                rig.server.gate(index).wait();
            }
            LoopbackServer::reply(res, 200, R"({"text":"x","duration":1})");
        });
        for (int round = 0; round < 3; ++round) {
            rig.client.ping();
            rig.client.transcribe("t", someWav, 1.0);  // 503, then the hedge succeeds
            std::stop_source stop;
            auto stalled = std::async(std::launch::async, [&] {
                try {
                    rig.client.transcribe("t", someWav, 1.0, stop.get_token());
                } catch (const RequestCancelled&) {
                }
            });
            rig.server.waitForRequests(static_cast<std::size_t>(4 * round + 4));
            stop.request_stop();
            stalled.get();
        }
        EXPECT_EQ(rig.hedgeSessionsOpen, 0);
    }
    EXPECT_EQ(testing::threadCount(), threads);
    EXPECT_EQ(testing::openDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace sayloft
