#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "server/AccessLog.h"
#include "server/ChaosPlan.h"
#include "server/ConnectionWatchdog.h"
#include "server/CrashStore.h"
#include "server/FairRecognitionQueue.h"
#include "server/HttpDaemon.h"
#include "server/HttpRoutes.h"
#include "server/RateLimiter.h"
#include "server/RegistrationGate.h"
#include "server/ServerOptions.h"
#include "server/SpeechRecognizer.h"
#include "server/TokenAuthority.h"
#include "server/UnixSocketHttp.h"

namespace sayloft {

// The HTTP(S) face of the service:
//   GET  /health          200 {"status","version","recognizer"}
//   POST /v1/register     200 {"token"}; open to local clients, to others with the invitation
//                         code (header Sayloft-Invite); 403, 429 per network and in total
//   POST /v1/transcribe   bearer token; multipart "file" (WAV) + "app_version";
//                         200 {"text","duration"}, 400/415 bad form or audio, 401, 411, 413, 429
//   POST /v1/stream       bearer token; audio/L16 (16 kHz mono, big-endian) sent while the user
//                         speaks, chunked; answered like /v1/transcribe at the end of the body;
//                         404 when the recogniser does not stream, 503 when none is free
//   POST /v1/crash        bearer token; multipart "file" + "app_version", "os_version",
//                         "platform"; 200 when stored
// Every error answer is JSON {"error": "..."}. Token, rate and size checks run on the headers,
// before the body is read; the HTTP layer (HttpDaemon) bounds every request before that. One
// access-log line per request goes to `log`; it never holds audio, text or tokens.
class SayloftServer final : private HttpRoutes {
public:
    // recognizer answers the health check's description; recognitions go through queue, which
    // shares it between tokens. invite: the code other computers register with (none: only
    // local clients may register).
    SayloftServer(const ServerOptions& options, const TokenAuthority& tokens,
                  SpeechRecognizer& recognizer, FairRecognitionQueue& queue, CrashStore& crashes,
                  std::optional<std::string> invite, std::optional<ChaosPlan> chaos,
                  std::ostream& log);
    ~SayloftServer() override;
    SayloftServer(const SayloftServer&) = delete;
    SayloftServer& operator=(const SayloftServer&) = delete;

    // Binds the listening sockets (the Unix socket when options.unixSocket names one, the TCP
    // port when options.tcp) and starts serving them. The bound TCP port (useful with port 0),
    // 0 when there is no TCP listener, or -1 with *error.
    int bind(std::string* error);
    // Returns after stop(): stops accepting, closes idle connections, lets requests in flight
    // finish for at most options.drainSeconds, closes what is left, removes the Unix socket
    // file.
    void run();
    // Thread-safe; may be called before run().
    void stop();

    static constexpr const char* version = SAYLOFT_SERVER_VERSION;

private:
    Screening screen(const HttpRequestHead& head) override;
    HttpAnswer serve(const HttpRequestHead& head, std::string_view body,
                     const std::string& owner) override;
    std::optional<HttpAnswer> injectFault();
    Screening openStream(const HttpRequestHead& head);
    HttpAnswer transcribe(const HttpRequestHead& head, std::string_view body,
                          const std::string& owner);
    HttpAnswer storeCrash(const HttpRequestHead& head, std::string_view body,
                          const std::string& owner);
    HttpDaemon::Settings daemonSettings() const;
    HttpRoutes& routes() { return *this; }
    bool waitUntilAbandoned(double seconds);

    const ServerOptions& options_;
    const TokenAuthority& tokens_;
    SpeechRecognizer& recognizer_;
    FairRecognitionQueue& queue_;
    CrashStore& crashes_;
    std::optional<ChaosPlan> chaos_;
    AccessLog log_;
    RateLimiter deviceLimiter_;
    RegistrationGate registrationGate_;
    ConnectionWatchdog watchdog_;
    std::unique_ptr<HttpDaemon> tcp_;
    std::unique_ptr<HttpDaemon> unix_;  // on options.unixSocket, when given
    std::optional<UnixSocketHttp::Listening> unixSocket_;

    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    bool abandoned_ = false;  // the drain time is over: requests still held give up
};

}  // namespace sayloft
