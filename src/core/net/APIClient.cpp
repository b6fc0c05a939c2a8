#include "core/net/APIClient.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/config/Config.h"
#include "core/model/APIFailure.h"
#include "core/net/CurlSession.h"
#include "core/net/DeadlineExceeded.h"
#include "core/net/HedgedRequest.h"
#include "core/net/InviteCode.h"
#include "core/net/MultipartBody.h"
#include "core/net/RegistrationNotOffered.h"
#include "core/net/RequestCancelled.h"
#include "core/net/ServiceStream.h"
#include "core/net/SteadySleeper.h"
#include "core/net/TransportError.h"

namespace sayloft {
namespace {

// The value of the "platform" field of a crash upload.
constexpr std::string_view crashPlatform = "linux";

// Recording lengths outside [0, 1 h] are not produced by the recorder; they are clamped so
// that the hedge and deadline formulas always see a sane length.
double saneAudioSeconds(double audioSeconds) {
    if (!std::isfinite(audioSeconds) || audioSeconds < 0.0) {
        return 0.0;
    }
    return std::min(audioSeconds, 3600.0);
}

std::string bearer(std::string_view token) {
    return "Bearer " + std::string(token);
}

}  // namespace

namespace {

CurlSession::Options sessionOptions(const ServiceEndpoint& endpoint) {
    CurlSession::Options options;
    options.unixSocket = endpoint.unixSocket;
    return options;
}

}  // namespace

APIClient::APIClient(const ServiceEndpoint& endpoint)
    : APIClient(
          endpoint.url, std::make_shared<CurlSession>(sessionOptions(endpoint)),
          [options = sessionOptions(endpoint)] { return std::make_unique<CurlSession>(options); },
          std::make_shared<SteadySleeper>()) {
}

APIClient::APIClient(Url baseURL) : APIClient(ServiceEndpoint{std::move(baseURL)}) {
}

APIClient::APIClient(Url baseURL, std::shared_ptr<HttpTransport> session,
                     HttpTransportFactory makeHedgeSession, std::shared_ptr<Sleeper> sleeper)
    : baseURL_(std::move(baseURL)),
      session_(std::move(session)),
      makeHedgeSession_(std::move(makeHedgeSession)),
      sleeper_(std::move(sleeper)) {
}

bool APIClient::exposesCredentials(const HttpRequest& request) {
    if (request.header("Authorization") == nullptr &&
        request.header(InviteCode::headerName) == nullptr) {
        return false;
    }
    // The origin is everything up to the first '/', '?' or '#' after "scheme://".
    const std::string& url = request.url;
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return true;
    }
    const auto originEnd = url.find_first_of("/?#", schemeEnd + 3);
    const auto origin = Url::parse(std::string_view(url).substr(0, originEnd));
    if (!origin) {
        return true;
    }
    return !origin->isHttps() && !origin->isLoopback();
}

bool APIClient::shouldRetry(const std::exception_ptr& error) {
    if (!error) {
        return true;
    }
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& transportError) {
        return !transportError.isConnectivityFailure();
    } catch (...) {
        return true;
    }
}

HttpResponse APIClient::send(const HttpRequest& request, std::stop_token stop) const {
    if (exposesCredentials(request)) {
        throw APIFailure(APIError::network);
    }
    struct Try {
        std::optional<HttpResponse> response;
        std::exception_ptr error;
    };
    auto once = [&]() -> Try {
        Try result;
        try {
            result.response = session_->perform(request, stop);
        } catch (...) {
            // A caller who asked to stop gets the cancellation, not a retry.
            if (stop.stop_requested()) {
                throw RequestCancelled();
            }
            result.error = std::current_exception();
        }
        return result;
    };

    // Each kind of repeat happens at most once: one for a try without an answer (when
    // shouldRetry allows it), one for a first answer of status 500 or more.
    bool repeatedFailure = false;
    for (int tryIndex = 0;; ++tryIndex) {
        Try attempt = once();
        if (attempt.response) {
            if (tryIndex == 0 && attempt.response->isHttp() && attempt.response->status >= 500) {
                continue;
            }
            return std::move(*attempt.response);
        }
        if (repeatedFailure || !shouldRetry(attempt.error)) {
            throw APIFailure(APIError::network);
        }
        repeatedFailure = true;
    }
}

void APIClient::ping(std::stop_token stop) const noexcept {
    try {
        HttpRequest request;
        request.method = "GET";
        request.url = baseURL_.appending("health");
        request.timeout = pingTimeout;
        session_->perform(request, stop);
    } catch (...) {
        // The answer and every failure are ignored: a ping only keeps a connection warm.
    }
}

HttpRequest APIClient::transcribeRequest(std::string_view token,
                                         std::span<const std::uint8_t> wav) const {
    const std::string boundary = MultipartBody::newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL_.appending("v1/transcribe");
    request.timeout = transcribeTimeout;
    request.headers = {{"Authorization", bearer(token)},
                       {"Content-Type", MultipartBody::contentType(boundary)}};
    request.body = MultipartBody::transcription(boundary, wav, Config::appVersion());
    return request;
}

TranscribeResult APIClient::transcribeOnce(const HttpRequest& request, HttpTransport& session,
                                           std::stop_token stop) {
    if (exposesCredentials(request)) {
        throw APIFailure(APIError::network);
    }
    HttpResponse response;
    try {
        response = session.perform(request, stop);
    } catch (...) {
        if (stop.stop_requested()) {
            throw RequestCancelled();
        }
        throw APIFailure(APIError::network);
    }
    if (!response.isHttp()) {
        throw APIFailure(APIError::asrFailed);
    }
    switch (response.status) {
        case 200:
            break;
        case 401:
            throw APIFailure(APIError::unauthorized);
        case 429:
            throw APIFailure(APIError::rateLimited);
        default:
            throw APIFailure(APIError::asrFailed);
    }
    return parseTranscript(response.body);
}

TranscribeResult APIClient::parseTranscript(std::string_view body) {
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) {
        throw APIFailure(APIError::badResponse);  // also what a body that does not parse yields
    }
    const auto text = json.find("text");
    const auto duration = json.find("duration");
    if (text == json.end() || !text->is_string() || duration == json.end() ||
        !duration->is_number()) {
        throw APIFailure(APIError::badResponse);
    }
    return TranscribeResult{text->get<std::string>(), duration->get<double>()};
}

HttpRequest APIClient::streamRequest(std::string_view token) const {
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL_.appending("v1/stream");
    request.timeout = streamTimeout;
    request.headers = {{"Authorization", bearer(token)},
                       {"Content-Type", std::string(streamContentType)}};
    return request;
}

std::unique_ptr<TranscriptionStream> APIClient::openStream(std::string_view token) const {
    HttpRequest request = streamRequest(token);
    if (exposesCredentials(request)) {
        return std::make_unique<ServiceStream>(
            "the token would cross plain HTTP to another host: not sent");
    }
    std::unique_ptr<HttpTransport> session;
    try {
        session = makeHedgeSession_();
    } catch (const std::exception& error) {
        return std::make_unique<ServiceStream>(std::string("no session: ") + error.what());
    }
    return std::make_unique<ServiceStream>(std::move(request), std::move(session));
}

TranscribeResult APIClient::transcribe(std::string_view token, std::span<const std::uint8_t> wav,
                                       double audioSeconds, std::stop_token stop) const {
    const HttpRequest request = transcribeRequest(token, wav);
    if (exposesCredentials(request)) {
        throw APIFailure(APIError::network);  // refused before any attempt touches the network
    }
    const double seconds = saneAudioSeconds(audioSeconds);

    const HedgedRequest::IsTransient isTransient = [](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const APIFailure& failure) {
            return failure.error == APIError::network || failure.error == APIError::asrFailed;
        } catch (...) {
            return false;
        }
    };
    const HedgedRequest::Attempt<TranscribeResult> attempt =
        [this, &request](int index, std::stop_token attemptStop) {
            if (index == 0) {
                return transcribeOnce(request, *session_, attemptStop);
            }
            // The hedge gets a connection pool of its own, so that it never queues behind the
            // first attempt's connection; the pool is closed when this attempt ends, however
            // it ends.
            const std::unique_ptr<HttpTransport> hedgeSession = makeHedgeSession_();
            return transcribeOnce(request, *hedgeSession, attemptStop);
        };

    try {
        return HedgedRequest::run<TranscribeResult>(HedgedRequest::hedgeDelay(seconds),
                                                    HedgedRequest::deadline(seconds), isTransient,
                                                    attempt, *sleeper_, stop);
    } catch (const DeadlineExceeded&) {
        throw APIFailure(APIError::timedOut);
    }
}

void APIClient::reportCrash(std::string_view token, std::span<const std::uint8_t> ips,
                            std::string_view osVersion, std::stop_token stop) const {
    const std::string boundary = MultipartBody::newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL_.appending("v1/crash");
    request.timeout = crashTimeout;
    request.headers = {{"Authorization", bearer(token)},
                       {"Content-Type", MultipartBody::contentType(boundary)}};
    request.body =
        MultipartBody::crashReport(boundary, ips, Config::appVersion(), osVersion, crashPlatform);
    const HttpResponse response = send(request, stop);
    if (response.status != 200) {
        throw APIFailure(APIError::badResponse);  // 201, 204, any error status, or not HTTP
    }
}

std::string APIClient::registerDevice(std::stop_token stop, std::string_view invite) const {
    HttpRequest request;
    request.method = "POST";
    request.url = baseURL_.appending("v1/register");
    request.timeout = registerTimeout;
    if (!invite.empty()) {
        if (!InviteCode::isValid(invite)) {
            throw std::invalid_argument(
                "an invitation code is letters, digits and punctuation only, at most " +
                std::to_string(InviteCode::maxLength));
        }
        request.headers = {{std::string(InviteCode::headerName), std::string(invite)}};
    }
    const HttpResponse response = send(request, stop);
    if (response.status == 429) {
        throw APIFailure(APIError::rateLimited);
    }
    if (response.status == 401 || response.status == 403) {
        throw APIFailure(APIError::unauthorized);
    }
    if (response.status == 404 || response.status == 405) {
        throw RegistrationNotOffered(response.status);
    }
    if (response.status != 200) {
        throw APIFailure(APIError::badResponse);
    }
    const auto json = nlohmann::json::parse(response.body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) {
        throw APIFailure(APIError::badResponse);
    }
    const auto token = json.find("token");
    if (token == json.end() || !token->is_string() || token->get<std::string>().empty()) {
        throw APIFailure(APIError::badResponse);
    }
    return token->get<std::string>();
}

}  // namespace sayloft
