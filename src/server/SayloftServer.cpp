#include "server/SayloftServer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "core/audio/PcmConverter.h"
#include "core/audio/WavReader.h"
#include "core/net/InviteCode.h"
#include "server/AudioStreamSink.h"
#include "server/MultipartForm.h"
#include "server/TcpListeningSocket.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

HttpAnswer answerJson(int status, const nlohmann::json& body) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return answer;
}

HttpAnswer answerError(int status, const std::string& message,
                       std::vector<std::pair<std::string, std::string>> headers = {}) {
    HttpAnswer answer = answerJson(status, {{"error", message}});
    answer.headers = std::move(headers);
    return answer;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string retryAfter(double seconds) {
    return std::to_string(static_cast<long long>(std::ceil(std::min(seconds, 86400.0))));
}

std::optional<std::string> readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::chrono::milliseconds millis(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

ConnectionDeadlines::Limits deadlinesOf(const ServerOptions& options) {
    ConnectionDeadlines::Limits limits;
    limits.head = millis(options.headerTimeoutSeconds);
    limits.bodyGrace = millis(options.bodyGraceSeconds);
    limits.minBodyBytesPerSecond = options.minBodyBytesPerSecond;
    limits.idle = millis(options.idleTimeoutSeconds);
    limits.busyIdle = millis(options.busyIdleTimeoutSeconds);
    return limits;
}

// The multipart form of a body, or the 400 answer that refuses it.
std::optional<MultipartForm> formOf(const HttpRequestHead& head, std::string_view body,
                                    HttpAnswer* refusal) {
    std::string reason;
    const auto boundary = MultipartForm::boundaryOf(head.header("Content-Type"), &reason);
    auto form = boundary ? MultipartForm::parse(body, *boundary, {}, &reason) : std::nullopt;
    if (!form) {
        *refusal = answerError(400, reason);
    }
    return form;
}

// The named parts' contents, in order, or the 400 answer naming the first one missing.
std::optional<std::vector<std::string_view>> partsOf(const MultipartForm& form,
                                                     std::initializer_list<const char*> names,
                                                     HttpAnswer* refusal) {
    std::vector<std::string_view> contents;
    for (const char* name : names) {
        const auto* part = form.find(name);
        if (part == nullptr) {
            *refusal = answerError(400, std::string("the form has no part \"") + name + "\"");
            return std::nullopt;
        }
        contents.push_back(part->content);
    }
    return contents;
}

}  // namespace

SayloftServer::SayloftServer(const ServerOptions& options, const TokenAuthority& tokens,
                             SpeechRecognizer& recognizer, FairRecognitionQueue& queue,
                             CrashStore& crashes, std::optional<std::string> invite,
                             std::optional<ChaosPlan> chaos, std::ostream& log)
    : options_(options),
      tokens_(tokens),
      recognizer_(recognizer),
      queue_(queue),
      crashes_(crashes),
      chaos_(std::move(chaos)),
      log_(log),
      deviceLimiter_(options.ratePerMinute / 60.0, options.rateBurst, Clock::now),
      registrationGate_(
          {options.registerPerHour, options.registerBurst, options.registerTotalPerHour},
          std::move(invite), Clock::now),
      watchdog_(deadlinesOf(options), options.maxConnections / 2) {
}

SayloftServer::~SayloftServer() {
    stop();
    {
        std::lock_guard lock(stopMutex_);
        abandoned_ = true;
    }
    stopSignal_.notify_all();
    unix_.reset();
    tcp_.reset();
}

HttpDaemon::Settings SayloftServer::daemonSettings() const {
    HttpDaemon::Settings settings;
    settings.maxConnections = options_.maxConnections;
    settings.perAddressConnections = options_.perAddressConnections;
    settings.connectionMemoryBytes = options_.maxHeaderBytes;
    settings.maxBodyBytes = options_.maxBodyBytes;
    // Behind the watchdog's keep-alive, for a client that stops reading its answer.
    settings.connectionTimeoutSeconds =
        static_cast<unsigned>(std::ceil(options_.idleTimeoutSeconds)) + 25;
    return settings;
}

int SayloftServer::bind(std::string* error) {
    if (!options_.unixSocket.empty()) {
        unixSocket_ =
            UnixSocketHttp::bind(options_.unixSocket, ServerOptions::listenBacklog, error);
        if (!unixSocket_) {
            return -1;
        }
        HttpDaemon::Settings settings = daemonSettings();
        settings.unixSocket = true;
        unix_ = std::make_unique<HttpDaemon>(settings, routes(), watchdog_, log_);
        if (!unix_->start(unixSocket_->fd, error)) {
            return -1;
        }
    }
    if (!options_.tcp) {
        return 0;
    }
    HttpDaemon::Settings settings = daemonSettings();
    settings.trustedProxies = options_.trustedProxies;
    if (options_.tls()) {
        const auto certificate = readText(options_.certFile);
        const auto key = readText(options_.keyFile);
        if (!certificate || !key || certificate->empty() || key->empty()) {
            if (error != nullptr) {
                *error = "cannot load the certificate or key (" + options_.certFile.string() +
                         ", " + options_.keyFile.string() + ")";
            }
            return -1;
        }
        settings.certificatePem = *certificate;
        settings.keyPem = *key;
    }
    int port = -1;
    const int fd = TcpListeningSocket::open(options_.host, options_.port,
                                            ServerOptions::listenBacklog, &port, error);
    if (fd < 0) {
        return -1;
    }
    tcp_ = std::make_unique<HttpDaemon>(settings, routes(), watchdog_, log_);
    if (!tcp_->start(fd, error)) {
        if (error != nullptr && options_.tls()) {
            *error = "cannot load the certificate or key (" + options_.certFile.string() + ", " +
                     options_.keyFile.string() + ")";
        }
        return -1;
    }
    return port;
}

void SayloftServer::run() {
    {
        std::unique_lock lock(stopMutex_);
        stopSignal_.wait(lock, [this] { return stopping_; });
    }
    HttpDaemon* daemons[] = {tcp_.get(), unix_.get()};
    const auto deadline = Clock::now() + millis(options_.drainSeconds);
    auto inFlight = [&] {
        std::size_t count = 0;
        for (HttpDaemon* daemon : daemons) {
            count += daemon != nullptr ? daemon->inFlight() : 0;
        }
        return count;
    };
    // The requests' own threads end them; a short poll is all this thread needs.
    while (inFlight() > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        std::lock_guard lock(stopMutex_);
        abandoned_ = true;
    }
    stopSignal_.notify_all();
    for (HttpDaemon* daemon : daemons) {
        if (daemon != nullptr) {
            daemon->stop();
        }
    }
    if (unixSocket_) {
        UnixSocketHttp::unlink(options_.unixSocket, unixSocket_->inode);
    }
}

void SayloftServer::stop() {
    {
        std::lock_guard lock(stopMutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        // No new connection from here on; answers close their connections, and connections
        // waiting for a next request are closed.
        for (HttpDaemon* daemon : {tcp_.get(), unix_.get()}) {
            if (daemon != nullptr) {
                daemon->quiesce();
                daemon->stopping();
            }
        }
        watchdog_.stopping();
    }
    stopSignal_.notify_all();
}

bool SayloftServer::waitUntilAbandoned(double seconds) {
    std::unique_lock lock(stopMutex_);
    return stopSignal_.wait_for(lock, std::chrono::duration<double>(seconds),
                                [this] { return abandoned_; });
}

std::optional<HttpAnswer> SayloftServer::injectFault() {
    switch (chaos_->pick()) {
        case ChaosFault::none:
            return std::nullopt;
        case ChaosFault::stall:
            // A request in flight: a stop lets it finish unless the drain time runs out first.
            if (waitUntilAbandoned(chaos_->stallSeconds())) {
                HttpAnswer dropped;
                dropped.delivery = HttpAnswer::Delivery::drop;
                return dropped;
            }
            return std::nullopt;
        case ChaosFault::reset: {
            HttpAnswer reset;
            reset.delivery = HttpAnswer::Delivery::reset;
            return reset;
        }
        case ChaosFault::unavailable:
            return answerError(503, "injected fault");
        case ChaosFault::unauthorized:
            return answerError(401, "injected fault");
        case ChaosFault::rateLimited:
            return answerError(429, "injected fault", {{"Retry-After", "1"}});
        case ChaosFault::malformedJson: {
            HttpAnswer broken;
            broken.body = "{\"text\": \"inject";
            return broken;
        }
    }
    return std::nullopt;
}

HttpRoutes::Screening SayloftServer::screen(const HttpRequestHead& req) {
    const bool post = req.method == "POST";
    const bool registration = req.path == "/v1/register";
    const bool upload = req.path == "/v1/transcribe" || req.path == "/v1/crash";
    const bool stream = req.path == "/v1/stream";
    if (req.path == "/health") {
        return {req.method == "GET" ? answerJson(200, {{"status", "ok"},
                                                       {"version", version},
                                                       {"recognizer", recognizer_.describe()}})
                                    : answerError(405, "method not allowed"),
                {}};
    }
    if (!registration && !upload && !stream) {
        return {answerError(404, "no such endpoint"), {}};
    }
    if (!post) {
        return {answerError(405, "method not allowed"), {}};
    }
    if (chaos_) {
        if (auto fault = injectFault()) {
            return {std::move(fault), {}};
        }
    }
    if (registration) {
        const std::string_view invite = req.header(InviteCode::headerName);
        const auto decision = registrationGate_.admit(
            req.remoteAddress, invite.empty() ? std::nullopt : std::optional(invite));
        if (!decision.allowed) {
            return {decision.status == 429
                        ? answerError(429, decision.message,
                                      {{"Retry-After", retryAfter(decision.retryAfterSeconds)}})
                        : answerError(decision.status, decision.message),
                    {}};
        }
        return {answerJson(200, {{"token", tokens_.issue()}}), {}};
    }
    if (!req.contentLength && !req.chunked) {
        auto refusal = answerError(411, "the request needs a Content-Length");
        refusal.close = true;
        return {std::move(refusal), {}};
    }
    const auto token = TokenAuthority::bearerToken(std::string(req.header("Authorization")));
    const auto claims = token ? tokens_.verify(*token) : std::nullopt;
    if (!claims) {
        return {answerError(401, "missing or invalid token", {{"WWW-Authenticate", "Bearer"}}), {}};
    }
    if (const auto decision = deviceLimiter_.acquire(claims->deviceIdHex()); !decision.allowed) {
        return {answerError(429, "too many requests for this token",
                            {{"Retry-After", retryAfter(decision.retryAfterSeconds)}}),
                {}};
    }
    if (stream) {
        return openStream(req);
    }
    if (!startsWithNoCase(req.header("Content-Type"), "multipart/form-data")) {
        return {answerError(415, "expected a multipart/form-data body"), {}};
    }
    return {std::nullopt, claims->deviceIdHex()};
}

HttpRoutes::Screening SayloftServer::openStream(const HttpRequestHead& req) {
    if (!AudioStreamSink::acceptsContentType(req.header("Content-Type"))) {
        return {answerError(415, "expected audio/L16; rate=16000; channels=1"), {}};
    }
    auto opening = recognizer_.openStream();
    if (!opening.stream) {
        return {opening.refusal == SpeechRecognizer::StreamOpening::Refusal::busy
                    ? answerError(503, "every streaming recogniser is busy", {{"Retry-After", "1"}})
                    : answerError(404, "this service does not stream"),
                {}};
    }
    // At most a minute of audio (or the one-shot cap when lower), with two seconds to spare
    // for a key released a little late.
    const double maxSeconds = std::min(options_.maxAudioSeconds, 60.0) + 2.0;
    Screening screening;
    screening.sink = std::make_shared<AudioStreamSink>(std::move(opening.stream), maxSeconds);
    screening.deadline = millis(options_.maxStreamSeconds);
    return screening;
}

HttpAnswer SayloftServer::serve(const HttpRequestHead& head, std::string_view body,
                                const std::string& owner) {
    return head.path == "/v1/crash" ? storeCrash(head, body, owner) : transcribe(head, body, owner);
}

HttpAnswer SayloftServer::transcribe(const HttpRequestHead& head, std::string_view body,
                                     const std::string& owner) {
    HttpAnswer refusal;
    const auto form = formOf(head, body, &refusal);
    const auto parts = form ? partsOf(*form, {"file", "app_version"}, &refusal) : std::nullopt;
    if (!parts) {
        return refusal;
    }
    const std::string_view wavBytes = (*parts)[0];
    std::string reason;
    const auto wav = WavReader::decode(
        std::span(reinterpret_cast<const std::uint8_t*>(wavBytes.data()), wavBytes.size()),
        &reason);
    if (!wav) {
        // Valid RIFF/WAVE holding a layout we cannot read (compressed, odd sample sizes) is an
        // unsupported media type; anything else is a malformed request.
        const bool unsupported = reason.find("not supported") != std::string::npos;
        return answerError(unsupported ? 415 : 400, "the file is not a usable WAV: " + reason);
    }
    if (wav->frames() == 0) {
        return answerError(400, "the recording holds no samples");
    }
    const double duration = static_cast<double>(wav->frames()) / wav->sampleRate;
    if (duration > options_.maxAudioSeconds) {
        return answerError(413, "the recording is longer than " +
                                    std::to_string(static_cast<int>(options_.maxAudioSeconds)) +
                                    " seconds");
    }
    const auto samples = PcmConverter::toSpeechSamples(*wav);
    if (samples.empty()) {
        return answerError(400, "the recording is too short to hold speech");
    }
    const auto recognitionBegan = Clock::now();
    // The one place recognition happens: in the queue's turn for `owner` (the token's device id).
    const auto result = queue_.recognize(owner, samples);
    const std::chrono::duration<double, std::milli> recognition = Clock::now() - recognitionBegan;
    if (!result.ok) {
        return result.retryAfterSeconds > 0
                   ? answerError(result.status, result.error,
                                 {{"Retry-After", std::to_string(result.retryAfterSeconds)}})
                   : answerError(result.status, result.error);
    }
    // The service's own share of the answer time, so that a client can tell it from the
    // transfer (Server-Timing, milliseconds with one decimal).
    char timing[64];
    std::snprintf(timing, sizeof timing, "recognize;dur=%.1f", recognition.count());
    HttpAnswer answer = answerJson(200, {{"text", result.text}, {"duration", duration}});
    answer.headers.emplace_back("Server-Timing", timing);
    return answer;
}

HttpAnswer SayloftServer::storeCrash(const HttpRequestHead& head, std::string_view body,
                                     const std::string& owner) {
    HttpAnswer refusal;
    const auto form = formOf(head, body, &refusal);
    const auto parts =
        form ? partsOf(*form, {"file", "app_version", "os_version", "platform"}, &refusal)
             : std::nullopt;
    if (!parts) {
        return refusal;
    }
    std::string reason;
    if (!crashes_.store(owner,
                        {std::string((*parts)[0]), std::string((*parts)[1]),
                         std::string((*parts)[2]), std::string((*parts)[3])},
                        &reason)) {
        return answerError(500, reason);
    }
    return answerJson(200, {{"status", "stored"}});
}

}  // namespace sayloft
