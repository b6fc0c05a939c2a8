#include "server/SayloftServer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>

#include "core/audio/PcmConverter.h"
#include "core/audio/WavReader.h"
#include "server/ConnectionReset.h"
#include "server/OpenConnections.h"
#include "server/UnixSocketHttp.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

// When the request on this worker thread passed the header checks; the access log's clock.
thread_local Clock::time_point requestStart;
thread_local bool requestStarted = false;

// A refusal decided from the headers but answered after the body was read, so that the
// connection stays usable for the client's next request (only an oversized body is refused
// before it is read).
struct Refusal {
    int status;
    std::string message;
    std::string headerName;
    std::string headerValue;
};
thread_local std::optional<Refusal> deferredRefusal;

void answerJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

void answerError(httplib::Response& res, int status, const std::string& message) {
    answerJson(res, status, {{"error", message}});
}

// An answer given before the body was read: the connection cannot carry another request.
void refuseEarly(httplib::Response& res, int status, const std::string& message) {
    answerError(res, status, message);
    res.set_header("Connection", "close");
}

const char* reasonOf(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 401:
            return "missing or invalid token";
        case 404:
            return "no such endpoint";
        case 405:
            return "method not allowed";
        case 408:
            return "request timed out";
        case 413:
            return "request body too large";
        case 414:
            return "request line too long";
        case 415:
            return "unsupported media type";
        case 429:
            return "too many requests";
        case 503:
            return "service unavailable";
        default:
            return status >= 500 ? "internal error" : "request failed";
    }
}

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// A request path fit for one log line: printable ASCII, at most 120 characters.
std::string printablePath(const std::string& path) {
    if (path.empty()) {
        return "-";
    }
    std::string out;
    for (const char c : path.substr(0, 120)) {
        out += (c > 32 && c < 127) ? c : '?';
    }
    return out;
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

// Answers the refusal screen() deferred to the handler, if there is one.
bool answerDeferred(httplib::Response& res) {
    if (!deferredRefusal) {
        return false;
    }
    if (deferredRefusal->status == 200) {  // injected malformed JSON
        res.status = 200;
        res.set_content(deferredRefusal->message, "application/json");
    } else {
        answerError(res, deferredRefusal->status, deferredRefusal->message);
    }
    if (!deferredRefusal->headerName.empty()) {
        res.set_header(deferredRefusal->headerName, deferredRefusal->headerValue);
    }
    deferredRefusal.reset();
    return true;
}

std::optional<std::string> formValue(const httplib::Request& req, const char* name,
                                     httplib::Response& res) {
    if (!req.has_file(name)) {
        answerError(res, 400, std::string("the form has no part \"") + name + "\"");
        return std::nullopt;
    }
    return req.get_file_value(name).content;
}

}  // namespace

SayloftServer::SayloftServer(const ServerOptions& options, const TokenAuthority& tokens,
                             SpeechRecognizer& recognizer, CrashStore& crashes,
                             std::optional<ChaosPlan> chaos, std::ostream& log)
    : options_(options),
      tokens_(tokens),
      recognizer_(recognizer),
      crashes_(crashes),
      chaos_(std::move(chaos)),
      log_(log),
      deviceLimiter_(options.ratePerMinute / 60.0, options.rateBurst, Clock::now),
      registerLimiter_(options.registerPerHour / 3600.0, options.registerBurst, Clock::now) {
    if (options.tls()) {
        http_ =
            std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
    } else {
        http_ = std::make_unique<httplib::Server>();
    }
    configure(*http_);
}

void SayloftServer::configure(httplib::Server& http) {
    const std::size_t threads = options_.threads;
    http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    http.set_payload_max_length(options_.maxBodyBytes);
    http.set_read_timeout(std::chrono::seconds(15));
    http.set_write_timeout(std::chrono::seconds(15));
    // Longer than the clients' one-minute keep-alive ping, so a warm connection stays open.
    http.set_keep_alive_timeout(65);
    // An answer goes out as two writes (head, then body): with Nagle's algorithm the body waits
    // for the client's delayed acknowledgement of the head, about 40 ms on every answer.
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(1000);

    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        requestStart = Clock::now();
        requestStarted = true;
        {
            std::lock_guard lock(busyMutex_);
            busyConnections_.emplace(req.local_port, req.remote_port);
        }
        return screen(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                : httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/health", [this](const httplib::Request&, httplib::Response& res) {
        answerJson(
            res, 200,
            {{"status", "ok"}, {"version", version}, {"recognizer", recognizer_.describe()}});
    });
    http.Post("/v1/register", [this](const httplib::Request& req, httplib::Response& res) {
        registerDevice(req, res);
    });
    http.Post("/v1/transcribe", [this](const httplib::Request& req, httplib::Response& res) {
        transcribe(req, res);
    });
    http.Post("/v1/crash", [this](const httplib::Request& req, httplib::Response& res) {
        storeCrash(req, res);
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            answerError(res, res.status, reasonOf(res.status));
        }
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                  std::exception_ptr) { answerError(res, 500, "internal error"); });
    http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        accessLog(req, res);
        std::lock_guard lock(busyMutex_);
        busyConnections_.erase({req.local_port, req.remote_port});
    });
}

SayloftServer::~SayloftServer() = default;

int SayloftServer::bind(std::string* error) {
    if (!options_.unixSocket.empty()) {
        unix_ = UnixSocketHttp::bind(options_.unixSocket, error);
        if (!unix_) {
            return -1;
        }
        configure(*unix_);
        // A connection to the socket costs nothing to open, and one kept idle would hold up
        // the stop until its keep-alive time-out: one request per connection.
        unix_->set_keep_alive_max_count(1);
    }
    if (!options_.tcp) {
        port_ = 0;
        return 0;
    }
    if (!http_->is_valid()) {
        if (error != nullptr) {
            *error = "cannot load the certificate or key (" + options_.certFile.string() + ", " +
                     options_.keyFile.string() + ")";
        }
        return -1;
    }
    const int port = options_.port == 0
                         ? http_->bind_to_any_port(options_.host)
                         : (http_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
    port_ = port;
    if (port < 0 && error != nullptr) {
        *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                 " (address in use or not available)";
    }
    return port;
}

void SayloftServer::run() {
    if (stopping_) {
        return;
    }
    std::thread unixLoop;
    if (unix_) {
        unixLoop = std::thread([this] { unix_->listen_after_bind(); });
    }
    if (options_.tcp) {
        http_->listen_after_bind();
    }
    if (unixLoop.joinable()) {
        unixLoop.join();
        UnixSocketHttp::unlink(options_.unixSocket, *unix_);
    }
}

void SayloftServer::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    http_->stop();
    if (unix_) {
        unix_->stop();
    }
    closeIdleConnections();
}

void SayloftServer::closeIdleConnections() {
    // The HTTP library waits on an idle keep-alive connection until its time-out (65 s) before
    // it notices the stop. Shutting such a connection down wakes it at once; a connection whose
    // request is being served keeps going, and its answer is still sent.
    std::lock_guard lock(busyMutex_);
    OpenConnections::forEach([this](int fd, int localPort, int remotePort) {
        if (port_ > 0 && localPort == port_ &&
            !busyConnections_.contains({localPort, remotePort})) {
            ::shutdown(fd, SHUT_RDWR);
        }
        return true;
    });
}

void SayloftServer::waitUnlessStopping(double seconds) {
    std::unique_lock lock(stopMutex_);
    stopSignal_.wait_for(lock, std::chrono::duration<double>(seconds),
                         [this] { return stopping_.load(); });
}

bool SayloftServer::injectFault(const httplib::Request& req, httplib::Response& res) {
    switch (chaos_->pick()) {
        case ChaosFault::none:
            return false;
        case ChaosFault::stall:
            waitUnlessStopping(chaos_->stallSeconds());
            return false;
        case ChaosFault::reset:
            ConnectionReset::reset(req.local_port, req.remote_port);
            refuseEarly(res, 503, "connection reset");
            return true;
        case ChaosFault::unavailable:
            deferredRefusal = Refusal{503, "injected fault", "", ""};
            return false;
        case ChaosFault::unauthorized:
            deferredRefusal = Refusal{401, "injected fault", "", ""};
            return false;
        case ChaosFault::rateLimited:
            deferredRefusal = Refusal{429, "injected fault", "Retry-After", "1"};
            return false;
        case ChaosFault::malformedJson:
            deferredRefusal = Refusal{200, "{\"text\": \"inject", "", ""};
            return false;
    }
    return false;
}

bool SayloftServer::screen(const httplib::Request& req, httplib::Response& res) {
    deferredRefusal.reset();
    Route route = Route::other;
    if (req.method == "POST") {
        if (req.path == "/v1/transcribe") {
            route = Route::transcribe;
        } else if (req.path == "/v1/crash") {
            route = Route::crash;
        } else if (req.path == "/v1/register") {
            route = Route::registration;
        }
    }
    if (route == Route::other) {
        return true;
    }
    if (chaos_ && injectFault(req, res)) {
        return false;
    }
    const bool hasBody = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
    if (req.has_header("Content-Length")) {
        const auto length = req.get_header_value<std::uint64_t>("Content-Length");
        if (length > options_.maxBodyBytes) {
            refuseEarly(res, 413,
                        "request body of " + std::to_string(length) +
                            " bytes exceeds the limit of " + std::to_string(options_.maxBodyBytes));
            return false;
        }
    }
    auto defer = [](Refusal refusal) {
        if (!deferredRefusal) {
            deferredRefusal = std::move(refusal);
        }
    };
    if (route == Route::registration) {
        const auto decision = registerLimiter_.acquire(req.remote_addr);
        if (!decision.allowed) {
            defer({429, "too many new tokens from this address", "Retry-After",
                   retryAfter(decision.retryAfterSeconds)});
        }
        if (!hasBody) {  // nothing to read: answer now (the library would wait for a body)
            registerDevice(req, res);
            return false;
        }
        return true;
    }
    if (!hasBody) {
        refuseEarly(res, 411, "the request needs a Content-Length");
        return false;
    }
    const auto token = TokenAuthority::bearerToken(req.get_header_value("Authorization"));
    const auto claims = token ? tokens_.verify(*token) : std::nullopt;
    if (!claims) {
        defer({401, "missing or invalid token", "WWW-Authenticate", "Bearer"});
    } else if (const auto decision = deviceLimiter_.acquire(claims->deviceIdHex());
               !decision.allowed) {
        defer({429, "too many requests for this token", "Retry-After",
               retryAfter(decision.retryAfterSeconds)});
    }
    if (!startsWithNoCase(req.get_header_value("Content-Type"), "multipart/form-data")) {
        defer({415, "expected a multipart/form-data body", "", ""});
    }
    return true;
}

void SayloftServer::registerDevice(const httplib::Request&, httplib::Response& res) {
    if (answerDeferred(res)) {
        return;
    }
    answerJson(res, 200, {{"token", tokens_.issue()}});
}

void SayloftServer::transcribe(const httplib::Request& req, httplib::Response& res) {
    if (answerDeferred(res)) {
        return;
    }
    const auto wavBytes = formValue(req, "file", res);
    if (!wavBytes || !formValue(req, "app_version", res)) {
        return;
    }
    std::string reason;
    const auto wav = WavReader::decode(
        std::span(reinterpret_cast<const std::uint8_t*>(wavBytes->data()), wavBytes->size()),
        &reason);
    if (!wav) {
        // Valid RIFF/WAVE holding a layout we cannot read (compressed, odd sample sizes) is an
        // unsupported media type; anything else is a malformed request.
        const bool unsupported = reason.find("not supported") != std::string::npos;
        answerError(res, unsupported ? 415 : 400, "the file is not a usable WAV: " + reason);
        return;
    }
    if (wav->frames() == 0) {
        answerError(res, 400, "the recording holds no samples");
        return;
    }
    const double duration = static_cast<double>(wav->frames()) / wav->sampleRate;
    if (duration > options_.maxAudioSeconds) {
        answerError(res, 413,
                    "the recording is longer than " +
                        std::to_string(static_cast<int>(options_.maxAudioSeconds)) + " seconds");
        return;
    }
    const auto samples = PcmConverter::toSpeechSamples(*wav);
    if (samples.empty()) {
        answerError(res, 400, "the recording is too short to hold speech");
        return;
    }
    const auto recognitionBegan = std::chrono::steady_clock::now();
    const auto result = recognizer_.recognize(samples);
    const std::chrono::duration<double, std::milli> recognition =
        std::chrono::steady_clock::now() - recognitionBegan;
    if (!result.ok) {
        answerError(res, result.status, result.error);
        return;
    }
    // The service's own share of the answer time, so that a client can tell it from the
    // transfer (Server-Timing, milliseconds with one decimal).
    char timing[64];
    std::snprintf(timing, sizeof timing, "recognize;dur=%.1f", recognition.count());
    res.set_header("Server-Timing", timing);
    answerJson(res, 200, {{"text", result.text}, {"duration", duration}});
}

void SayloftServer::storeCrash(const httplib::Request& req, httplib::Response& res) {
    if (answerDeferred(res)) {
        return;
    }
    const auto report = formValue(req, "file", res);
    if (!report) {
        return;
    }
    const auto appVersion = formValue(req, "app_version", res);
    const auto osVersion = appVersion ? formValue(req, "os_version", res) : std::nullopt;
    const auto platform = osVersion ? formValue(req, "platform", res) : std::nullopt;
    if (!platform) {
        return;
    }
    const auto token = TokenAuthority::bearerToken(req.get_header_value("Authorization"));
    const auto claims = token ? tokens_.verify(*token) : std::nullopt;
    if (!claims) {  // screened before the body was read; checked again for the device id
        answerError(res, 401, "missing or invalid token");
        return;
    }
    std::string reason;
    if (!crashes_.store(claims->deviceIdHex(), {*report, *appVersion, *osVersion, *platform},
                        &reason)) {
        answerError(res, 500, reason);
        return;
    }
    answerJson(res, 200, {{"status", "stored"}});
}

void SayloftServer::accessLog(const httplib::Request& req, const httplib::Response& res) {
    const long long millis =
        requestStarted
            ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - requestStart)
                  .count()
            : 0;
    requestStarted = false;
    deferredRefusal.reset();
    const auto bytesIn = req.has_header("Content-Length")
                             ? req.get_header_value<std::uint64_t>("Content-Length")
                             : static_cast<std::uint64_t>(req.body.size());
    const std::string line =
        utcNow() + " " + (req.method.empty() ? "-" : req.method) + " " + printablePath(req.path) +
        " " + std::to_string(res.status) + " in=" + std::to_string(bytesIn) +
        " out=" + std::to_string(res.body.size()) + " ms=" + std::to_string(millis) + "\n";
    std::lock_guard lock(logMutex_);
    log_ << line << std::flush;
}

}  // namespace sayloft
