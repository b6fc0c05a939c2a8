#include "LoadClient.h"

#include <stop_token>

#include "core/net/CurlSession.h"
#include "core/net/TransportError.h"

namespace sayloft::bench {
namespace {

// The status of one attempt, 0 for no HTTP answer; `failure` describes a failed one.
long attempt(CurlSession& session, const HttpRequest& request, std::string& failure) {
    try {
        const auto response = session.perform(request, std::stop_token());
        if (response.status != 200) {
            failure = "HTTP " + std::to_string(response.status);
        }
        return response.status;
    } catch (const TransportError& e) {
        failure = e.what();
        return 0;
    }
}

bool retriable(long status) {
    return status == 0 || status == 502 || status == 503;
}

}  // namespace

LoadClient::LoadClient(std::string baseUrl, std::string token, const std::string& body,
                       const std::string& contentType)
    : url_(std::move(baseUrl) + "/v1/transcribe"),
      token_(std::move(token)),
      body_(body),
      contentType_(contentType) {
}

LoadClient::Result LoadClient::run(Clock::time_point deadline) const {
    CurlSession session;
    HttpRequest request;
    request.method = "POST";
    request.url = url_;
    request.headers = {{"Authorization", "Bearer " + token_}, {"Content-Type", contentType_}};
    request.body = body_;
    request.timeout = std::chrono::seconds(60);

    Result result;
    while (Clock::now() < deadline) {
        const auto began = Clock::now();
        std::string failure;
        long status = attempt(session, request, failure);
        ++result.requests;
        if (status != 200) {
            ++result.failedFirstTry;
            result.lastFailure = failure;
            if (retriable(status)) {
                status = attempt(session, request, failure);
            }
        }
        if (status == 200) {
            ++result.succeeded;
            result.latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - began).count());
        } else {
            ++result.failedAfterRetry;
        }
    }
    return result;
}

}  // namespace sayloft::bench
