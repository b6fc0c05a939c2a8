#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "server/ChaosPlan.h"
#include "server/CrashStore.h"
#include "server/RateLimiter.h"
#include "server/ServerOptions.h"
#include "server/SpeechRecognizer.h"
#include "server/TokenAuthority.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace sayloft {

// The HTTP(S) face of the service:
//   GET  /health          200 {"status","version","recognizer"}
//   POST /v1/register     200 {"token"}; rate-limited per client address
//   POST /v1/transcribe   bearer token; multipart "file" (WAV) + "app_version";
//                         200 {"text","duration"}, 400/415 bad form or audio, 401, 413, 429
//   POST /v1/crash        bearer token; multipart "file" + "app_version", "os_version",
//                         "platform"; 200 when stored
// Every error answer is JSON {"error": "..."}. Token, rate and size checks run on the headers,
// before the body is read. One access-log line per request goes to `log`; it never holds audio,
// text or tokens.
class SayloftServer {
public:
    SayloftServer(const ServerOptions& options, const TokenAuthority& tokens,
                  SpeechRecognizer& recognizer, CrashStore& crashes, std::optional<ChaosPlan> chaos,
                  std::ostream& log);
    ~SayloftServer();
    SayloftServer(const SayloftServer&) = delete;
    SayloftServer& operator=(const SayloftServer&) = delete;

    // Binds the listening sockets: the Unix socket when options.unixSocket names one, the TCP
    // port when options.tcp. The bound TCP port (useful with port 0), 0 when there is no TCP
    // listener, or -1 with *error.
    int bind(std::string* error);
    // Serves until stop(); then lets requests in flight finish, removes the Unix socket file
    // and returns.
    void run();
    // Thread-safe; may be called before run() has started serving.
    void stop();

    static constexpr const char* version = SAYLOFT_SERVER_VERSION;

private:
    enum class Route { other, transcribe, crash, registration };
    bool screen(const httplib::Request& req, httplib::Response& res);
    void transcribe(const httplib::Request& req, httplib::Response& res);
    void storeCrash(const httplib::Request& req, httplib::Response& res);
    void registerDevice(const httplib::Request& req, httplib::Response& res);
    void accessLog(const httplib::Request& req, const httplib::Response& res);
    bool injectFault(const httplib::Request& req, httplib::Response& res);
    void waitUnlessStopping(double seconds);
    void closeIdleConnections();
    void configure(httplib::Server& http);

    const ServerOptions& options_;
    const TokenAuthority& tokens_;
    SpeechRecognizer& recognizer_;
    CrashStore& crashes_;
    std::optional<ChaosPlan> chaos_;
    std::ostream& log_;
    std::mutex logMutex_;
    RateLimiter deviceLimiter_;
    RateLimiter registerLimiter_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<httplib::Server> unix_;  // on options.unixSocket, when given

    int port_ = -1;
    // Connections whose request is being served: from routing until the access log, which is
    // written after the answer. The others are idle keep-alive connections.
    std::mutex busyMutex_;
    std::set<std::pair<int, int>> busyConnections_;  // (local port, remote port)

    std::atomic<bool> stopping_{false};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
};

}  // namespace sayloft
