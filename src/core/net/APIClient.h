#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/config/Url.h"
#include "core/model/APIFailure.h"
#include "core/model/TranscribeResult.h"
#include "core/net/HttpTransport.h"
#include "core/net/ServiceEndpoint.h"
#include "core/net/Sleeper.h"
#include "core/net/TranscriptionStream.h"

namespace sayloft {

// The one HTTP client of the application, talking to the transcription service at a base URL
// (normally Config::backendURL()). Holds no mutable state after construction: every operation
// may be called from any thread, several at once. Every operation blocks its calling thread;
// run them on worker threads.
//
// Failures are exceptions:
//  - an APIError travels as an APIFailure carrying it (`catch (const APIFailure& failure)`);
//  - RequestCancelled (core/net/RequestCancelled.h) when the caller's stop token was triggered;
//  - anything else (std::bad_alloc, ...) is a failure that is not an APIError.
//
// A bearer token or an invitation code is never sent over plain HTTP to a host that is not a
// loopback address: such a request fails as APIError::network without touching the network.
class APIClient {
public:
    // Uses libcurl: one CurlSession for pings, crash uploads and first attempts, a fresh one for
    // every hedged second attempt, and real time for the hedge's timers. Every session connects
    // where the endpoint says (its Unix socket when it has one).
    explicit APIClient(const ServiceEndpoint& endpoint);
    explicit APIClient(Url baseURL);

    // session: the client's shared session (pings, sends, first transcription attempts).
    // makeHedgeSession: makes the separate session of each hedged second attempt; it is destroyed
    // (closed) when that attempt ends. sleeper: the clock of the hedge and deadline timers.
    APIClient(Url baseURL, std::shared_ptr<HttpTransport> session,
              HttpTransportFactory makeHedgeSession, std::shared_ptr<Sleeper> sleeper);

    // Sends one recording (a WAV file's bytes) and returns the service's transcript. Races at most
    // two identical attempts (the second after HedgedRequest::hedgeDelay(audioSeconds) or at once
    // after a transient failure of the first) under HedgedRequest::deadline(audioSeconds).
    // Throws APIError: unauthorized (401), rateLimited (429), badResponse (200 with a body that
    // is not {"text": string, "duration": number}), network or asrFailed (both attempts failed
    // without an answer or with another status; the later one's error), timedOut (deadline).
    TranscribeResult transcribe(std::string_view token, std::span<const std::uint8_t> wav,
                                double audioSeconds, std::stop_token stop = {}) const;

    // The transcription request: POST <base>/v1/transcribe, 60 s, "Authorization: Bearer
    // <token>", a multipart body with the WAV as part "file" ("a.wav", audio/wav) and the
    // application version as part "app_version", under a new random boundary.
    HttpRequest transcribeRequest(std::string_view token, std::span<const std::uint8_t> wav) const;

    // One attempt: performs the request on the given session with no retry of its own. Returns
    // the result of a 200 with a valid body; throws APIError::network (no answer),
    // badResponse, unauthorized, rateLimited or asrFailed (any other status or a non-HTTP
    // answer), or RequestCancelled when stop was requested.
    static TranscribeResult transcribeOnce(const HttpRequest& request, HttpTransport& session,
                                           std::stop_token stop = {});

    // The transcript in the body of a 200: {"text": string, "duration": number} (other members
    // ignored). Throws APIError::badResponse for anything else.
    static TranscribeResult parseTranscript(std::string_view body);

    // Opens a streamed recognition: POST <base>/v1/stream on a fresh session of its own (made
    // like a hedge's), "Authorization: Bearer <token>", audio/L16 at 16 kHz mono, chunked. The
    // request starts at once, so a refusal arrives while the user still speaks. Never throws for
    // a network reason: a stream that cannot start (no session, or a token that would cross
    // plain HTTP to another host, in which case nothing is sent) fails at finish().
    std::unique_ptr<TranscriptionStream> openStream(std::string_view token) const;

    // The streamed request without its body source (the headers of openStream).
    HttpRequest streamRequest(std::string_view token) const;

    // Performs the request on the client's session with the retry rule: at most three tries, no
    // pause. A try without an answer is repeated when shouldRetry says so; an answer of status
    // 500 or more is repeated once; any other answer (and the answer of a repeat) is returned
    // as it stands, whatever its status. Throws APIError::network when no answer came,
    // RequestCancelled when stop was requested.
    HttpResponse send(const HttpRequest& request, std::stop_token stop = {}) const;

    // True when a try that failed with this error may be repeated: false for the eight
    // connectivity failures of TransportError (no network, connection lost, host not found,
    // name lookup failed, cannot connect, timed out, roaming, data not allowed), true for every
    // other TransportError (TLS failure, cancellation, ...) and for errors that are not
    // TransportErrors.
    static bool shouldRetry(const std::exception_ptr& error);

    // Keep-alive: GET <base>/health with an 8 s time-out on the client's session, without retry.
    // Never throws; the answer and any failure are ignored. Leaves a warm connection for the
    // next transcription.
    void ping(std::stop_token stop = {}) const noexcept;

    // Uploads one crash report: POST <base>/v1/crash through send, 60 s, multipart with the
    // report as part "file" ("crash.ips", application/octet-stream) and the fields
    // "app_version", "os_version" and "platform" ("linux"). Returns normally exactly on status
    // 200; throws APIError::badResponse for any other answer, APIError::network when none came.
    void reportCrash(std::string_view token, std::span<const std::uint8_t> ips,
                     std::string_view osVersion, std::stop_token stop = {}) const;

    // Obtains a new service token: POST <base>/v1/register through send, answered by 200
    // {"token": "<non-empty string>"}. A non-empty invite (an InviteCode the service's operator
    // gave out, for registering from another computer) goes in the Sayloft-Invite header; the
    // application sends none. Throws APIError::rateLimited on 429, unauthorized on 401 and 403
    // (no invitation, or a wrong one), RegistrationNotOffered on 404 and 405 (a service without
    // registration), badResponse on any other answer or body, network when no answer came or
    // the invite would cross plain HTTP to another host; std::invalid_argument for an invite
    // that is not a valid code.
    std::string registerDevice(std::stop_token stop = {}, std::string_view invite = {}) const;

    // True when this request would carry a credential (an Authorization or Sayloft-Invite header)
    // over plain HTTP to a host that is not a loopback address, or to an address that cannot be
    // read as http(s).
    static bool exposesCredentials(const HttpRequest& request);

    const Url& baseURL() const { return baseURL_; }

    static constexpr std::chrono::milliseconds transcribeTimeout{60'000};
    static constexpr std::chrono::milliseconds crashTimeout{60'000};
    static constexpr std::chrono::milliseconds pingTimeout{8'000};
    static constexpr std::chrono::milliseconds registerTimeout{20'000};
    // A stream lasts as long as the hold (at most a minute) and then as long as a transcription.
    static constexpr std::chrono::milliseconds streamTimeout{60'000 + transcribeTimeout.count()};
    static constexpr std::string_view streamContentType = "audio/L16; rate=16000; channels=1";

private:
    Url baseURL_;
    std::shared_ptr<HttpTransport> session_;
    HttpTransportFactory makeHedgeSession_;
    std::shared_ptr<Sleeper> sleeper_;
};

}  // namespace sayloft
