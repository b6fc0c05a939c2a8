#include "server/HttpDaemon.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/ConnectionReset.h"
#include "server/ProxyAcceptor.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

// What the HTTP layer keeps per connection, as the library's socket context.
struct Connection {
    std::shared_ptr<WatchedConnection> watched;
    int fd = -1;
};

Connection* connectionOf(MHD_Connection* c) {
    const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
}

HttpAnswer errorAnswer(int status, const std::string& message) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = nlohmann::json{{"error", message}}.dump();
    return answer;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

bool containsNoCase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (equalsNoCase(text.substr(i, word.size()), word)) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint64_t> parseLength(std::string_view text) {
    if (text.empty() || text.size() > 19) {
        return text.empty() ? std::nullopt : std::optional<std::uint64_t>(UINT64_MAX);
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return UINT64_MAX;  // the library refuses it before we see it; never "fits"
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// The client's numeric address. A peer whose address cannot be read must not pass for a
// Unix-socket peer (registration trusts the empty address).
std::string addressOf(MHD_Connection* c) {
    const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return "unknown";
    }
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    const char* written = nullptr;
    if (address->sa_family == AF_INET) {
        written = ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr,
                              text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        written = ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                              text, sizeof text);
    }
    return written != nullptr ? std::string(text) : std::string("unknown");
}

MHD_Result collectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
    static_cast<HttpRequestHead*>(cls)->headers.emplace_back(key != nullptr ? key : "",
                                                             value != nullptr ? value : "");
    return MHD_YES;
}

// Closing a socket whose client still sends makes the kernel answer with a reset, which can
// overtake the answer on its way and make the client see "connection reset" (or a failed send)
// instead of it. So the sending side is shut first (the client sees the answer end) and what
// still arrives is read and dropped until the client closes: a client reads the answer between
// its writes and stops. Bounded to two seconds and 32 MiB, whatever the client does.
void lingerBeforeClose(int fd) {
    constexpr std::uint64_t maxBytes = 32 * 1024 * 1024;
    ::shutdown(fd, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    std::uint64_t dropped = 0;
    char buffer[16 * 1024];
    while (dropped < maxBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return;
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) {
            return;
        }
        dropped += static_cast<std::uint64_t>(got);
    }
}

// Writes bytes to the client past the library, for an answer it no longer lets us queue (a
// body found too large while arriving): plain on the socket, or through the connection's TLS
// session. Bounded to two seconds.
void sendPastTheLibrary(MHD_Connection* c, int fd, bool tls, const std::string& bytes) {
    gnutls_session_t session = nullptr;
    if (tls) {
        const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_GNUTLS_SESSION);
        if (info == nullptr || info->tls_session == nullptr) {
            return;
        }
        session = static_cast<gnutls_session_t>(info->tls_session);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    std::size_t sent = 0;
    while (sent < bytes.size() && Clock::now() < deadline) {
        const ssize_t n =
            session != nullptr
                ? gnutls_record_send(session, bytes.data() + sent, bytes.size() - sent)
                : ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const bool again = session != nullptr
                               ? (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
                               : (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        pollfd p{fd, POLLOUT, 0};
        if (!again || ::poll(&p, 1, 100) < 0) {
            return;
        }
    }
}

const char* reasonOf(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        default:
            return status < 500 ? "Client Error" : "Server Error";
    }
}

std::string rawAnswer(const HttpAnswer& answer, const char* reason) {
    return "HTTP/1.1 " + std::to_string(answer.status) + " " + reason +
           "\r\nConnection: close\r\nContent-Type: " + answer.contentType +
           "\r\nContent-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" + answer.body;
}

}  // namespace

// One request, as the library's per-request context: created when the request line arrives,
// destroyed when the request ends (answered, refused or cut).
struct HttpDaemon::Exchange {
    Clock::time_point start = Clock::now();
    bool headed = false;    // the headers arrived and were screened
    bool answered = false;  // an answer was queued or sent
    HttpRequestHead head{};
    std::optional<HttpAnswer> pending{};  // sent once the discarded body is read
    std::string owner{};
    std::string body{};
    std::shared_ptr<HttpBodySink> sink{};  // takes the body instead of `body`, when given
    std::uint64_t received = 0;
    int status = 0;
    std::size_t bytesOut = 0;
    bool linger = false;  // answered before its body was read: linger before the close
};

struct HttpDaemon::Callbacks {
    static void notifyConnection(void* cls, MHD_Connection* c, void** socketContext,
                                 MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<HttpDaemon*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            const int fd = info != nullptr ? info->connect_fd : -1;
            sockaddr_storage local{};
            socklen_t length = sizeof local;
            const bool tcp = ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                             (local.ss_family == AF_INET || local.ss_family == AF_INET6);
            if (tcp) {
                // An answer goes out as head and body: with Nagle's algorithm the body would
                // wait for the client's delayed acknowledgement of the head (about 40 ms).
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
            *socketContext = new Connection{self->watchdog_.add(fd, tcp), fd};
            return;
        }
        // The library closes the descriptor right after this: from now on nobody touches it.
        auto* connection = static_cast<Connection*>(*socketContext);
        if (connection != nullptr) {
            connection->watched->closed();
            self->watchdog_.remove(connection->watched);
            delete connection;
            *socketContext = nullptr;
        }
    }

    static void* requestLine(void*, const char* uri, MHD_Connection* c) {
        if (auto* connection = connectionOf(c)) {
            connection->watched->requestLineArrived(Clock::now());
        }
        auto* exchange = new Exchange();
        const std::string_view target = uri != nullptr ? uri : "";
        exchange->head.path = target.substr(0, target.find('?'));
        return exchange;
    }

    static MHD_Result access(void* cls, MHD_Connection* c, const char* url, const char* method,
                             const char*, const char* data, std::size_t* size, void** context) {
        auto* self = static_cast<HttpDaemon*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (exchange == nullptr) {
            exchange = new Exchange();
            *context = exchange;
        }
        Connection* connection = connectionOf(c);
        if (connection == nullptr) {
            return MHD_NO;
        }
        if (!exchange->headed) {
            return begin(*self, c, *connection, *exchange, url, method);
        }
        if (*size > 0) {
            return receive(*self, c, *connection, *exchange, data, size);
        }
        return exchange->answered ? MHD_YES : finish(*self, c, *connection, *exchange);
    }

    // The headers arrived: the layer's own limits, then the routes' screening.
    static MHD_Result begin(HttpDaemon& self, MHD_Connection* c, Connection& connection,
                            Exchange& exchange, const char* url, const char* method) {
        exchange.headed = true;
        ++self.inFlight_;
        connection.watched->headersArrived(Clock::now());
        HttpRequestHead& head = exchange.head;
        head.method = method != nullptr ? method : "";
        head.path = url != nullptr ? url : "";
        head.remoteAddress = self.settings_.unixSocket ? std::string() : addressOf(c);
        MHD_get_connection_values(c, MHD_HEADER_KIND, &collectHeader, &head);
        head.contentLength = parseLength(head.header("Content-Length"));
        head.chunked = containsNoCase(head.header("Transfer-Encoding"), "chunked");
        const std::uint64_t limit = self.settings_.maxBodyBytes;
        const bool oversized = head.contentLength.value_or(0) > limit;
        const std::string_view encoding = head.header("Content-Encoding");

        std::optional<HttpAnswer> answer;
        if (head.hasBody() && !encoding.empty() && !equalsNoCase(encoding, "identity")) {
            // No route decodes compressed bodies, and inflating one would escape the limit.
            answer = errorAnswer(415, "request bodies are accepted without Content-Encoding only");
        } else if (oversized) {
            answer = errorAnswer(413, "request body of " + std::to_string(*head.contentLength) +
                                          " bytes exceeds the limit of " + std::to_string(limit));
        } else {
            auto screening = self.routes_.screen(head);
            answer = std::move(screening.answer);
            exchange.owner = std::move(screening.owner);
            if (!answer) {
                exchange.sink = std::move(screening.sink);
                if (screening.deadline.count() > 0) {
                    connection.watched->limitRequest(screening.deadline);
                }
            }
        }
        if (!answer) {
            if (!exchange.sink) {
                exchange.body.reserve(head.contentLength.value_or(0));
            }
            return MHD_YES;
        }
        if (answer->delivery != HttpAnswer::Delivery::send) {
            return abandon(connection, exchange, *answer);
        }
        // The library closes the connection after an answer queued now, before the body: worth
        // it when the body is not worth reading (chunked, too large) or not sent yet (the client
        // waits for "100 Continue"). Otherwise the answer waits for the library's next call,
        // after the body was read and dropped, and the connection stays usable.
        if (head.hasBody() &&
            (head.chunked || oversized || containsNoCase(head.header("Expect"), "100-continue"))) {
            answer->close = true;
            exchange.linger = true;
            return queue(self, c, exchange, *answer);
        }
        exchange.pending = std::move(answer);
        return MHD_YES;
    }

    static MHD_Result receive(HttpDaemon& self, MHD_Connection* c, Connection& connection,
                              Exchange& exchange, const char* data, std::size_t* size) {
        exchange.received += *size;
        connection.watched->bodyArrived(*size);
        const std::uint64_t limit = self.settings_.maxBodyBytes;
        if (exchange.received > limit) {
            // Only a chunked body gets here.
            return refuseWhileArriving(self, c, connection, exchange,
                                       errorAnswer(413, "request body exceeds the limit of " +
                                                            std::to_string(limit) + " bytes"));
        }
        if (exchange.sink) {
            if (auto refusal = exchange.sink->write(std::string_view(data, *size))) {
                return refuseWhileArriving(self, c, connection, exchange, *refusal);
            }
        } else if (!exchange.pending) {
            exchange.body.append(data, *size);
        }
        *size = 0;
        return MHD_YES;
    }

    // The library takes no answer while a body arrives, so it is written past it; then the
    // connection is given up (and a sink released).
    static MHD_Result refuseWhileArriving(HttpDaemon& self, MHD_Connection* c,
                                          Connection& connection, Exchange& exchange,
                                          const HttpAnswer& answer) {
        exchange.sink.reset();
        sendPastTheLibrary(c, connection.fd, !self.settings_.certificatePem.empty(),
                           rawAnswer(answer, reasonOf(answer.status)));
        exchange.answered = true;
        exchange.status = answer.status;
        exchange.bytesOut = answer.body.size();
        exchange.body = std::string();
        lingerBeforeClose(connection.fd);
        return MHD_NO;
    }

    static MHD_Result finish(HttpDaemon& self, MHD_Connection* c, Connection& connection,
                             Exchange& exchange) {
        connection.watched->bodyComplete();
        HttpAnswer answer = exchange.pending ? std::move(*exchange.pending)
                            : exchange.sink
                                ? exchange.sink->finish()
                                : self.routes_.serve(exchange.head, exchange.body, exchange.owner);
        exchange.sink.reset();
        exchange.body = std::string();
        if (answer.delivery != HttpAnswer::Delivery::send) {
            return abandon(connection, exchange, answer);
        }
        return queue(self, c, exchange, answer);
    }

    static MHD_Result queue(HttpDaemon& self, MHD_Connection* c, Exchange& exchange,
                            const HttpAnswer& answer) {
        MHD_Response* response = MHD_create_response_from_buffer(
            answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
        if (response == nullptr) {
            return MHD_NO;
        }
        MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
        for (const auto& [name, value] : answer.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
        if (answer.close || self.stopping_) {
            MHD_add_response_header(response, "Connection", "close");
        }
        const MHD_Result queued =
            MHD_queue_response(c, static_cast<unsigned>(answer.status), response);
        MHD_destroy_response(response);
        exchange.answered = true;
        exchange.status = answer.status;
        exchange.bytesOut = answer.body.size();
        return queued;
    }

    // Ends the connection without an answer (MHD_NO makes the library close it).
    static MHD_Result abandon(Connection& connection, Exchange& exchange,
                              const HttpAnswer& answer) {
        if (answer.delivery == HttpAnswer::Delivery::reset) {
            ConnectionReset::reset(connection.fd);
        }
        exchange.answered = true;
        exchange.status = 0;
        return MHD_NO;
    }

    static void completed(void* cls, MHD_Connection* c, void** context,
                          MHD_RequestTerminationCode code) {
        auto* self = static_cast<HttpDaemon*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (exchange == nullptr) {
            return;
        }
        *context = nullptr;
        Connection* connection = connectionOf(c);
        // A body the request did not finish is discarded now, before anything else.
        const bool unfinishedSink = exchange->sink != nullptr;
        exchange->sink.reset();
        int status = exchange->status;
        if (!exchange->answered) {
            // Refused by the library itself (431), cut by the watchdog (408), abandoned, or a
            // body taken in pieces that the client gave up (499, "client closed request"; a
            // stop of the service is no client's doing).
            const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS);
            status = info != nullptr ? static_cast<int>(info->http_status) : 0;
            if (status == 0 && connection != nullptr && connection->watched->wasCut()) {
                status = 408;
            } else if (status == 0 && unfinishedSink &&
                       code != MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN) {
                status = 499;
            }
        }
        self->log_.write(
            exchange->head.method, exchange->head.path, status, exchange->received,
            exchange->bytesOut,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exchange->start)
                .count());
        if (exchange->headed) {
            --self->inFlight_;
        }
        if (connection != nullptr) {
            if (exchange->linger && code == MHD_REQUEST_TERMINATED_COMPLETED_OK) {
                lingerBeforeClose(connection->fd);
            }
            connection->watched->requestDone(Clock::now());
        }
        delete exchange;
    }

    static void logError(void* cls, const char* format, va_list arguments) {
        auto* self = static_cast<HttpDaemon*>(cls);
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        self->log_.note(text);
    }
};

HttpDaemon::HttpDaemon(const Settings& settings, HttpRoutes& routes, ConnectionWatchdog& watchdog,
                       AccessLog& log)
    : settings_(settings), routes_(routes), watchdog_(watchdog), log_(log) {
}

HttpDaemon::~HttpDaemon() {
    stop();
}

bool HttpDaemon::start(int listeningFd, std::string* error) {
    const bool tls = !settings_.certificatePem.empty();
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                     MHD_USE_POLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (tls) {
        flags |= MHD_USE_TLS;
    }
    const bool proxied = !settings_.trustedProxies.empty();
    if (proxied) {
        flags |= MHD_USE_NO_LISTEN_SOCKET;  // ProxyAcceptor hands each connection over
    }
    // Function pointers travel as integers in the option array, as the library reads them.
    auto function = [](auto* callback) { return reinterpret_cast<intptr_t>(callback); };
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_EXTERNAL_LOGGER, function(&Callbacks::logError), this},  // first, as asked
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(settings_.maxConnections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(settings_.perAddressConnections),
         nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(settings_.connectionMemoryBytes),
         nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(settings_.connectionTimeoutSeconds),
         nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, function(&Callbacks::notifyConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, function(&Callbacks::completed), this},
        {MHD_OPTION_URI_LOG_CALLBACK, function(&Callbacks::requestLine), this},
    };
    if (!proxied) {
        options.push_back({MHD_OPTION_LISTEN_SOCKET, listeningFd, nullptr});
    }
    if (tls) {
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings_.certificatePem.c_str())});
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings_.keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &Callbacks::access, this,
                               MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(listeningFd);
        if (error != nullptr) {
            *error = tls ? "cannot serve HTTPS with this certificate and key"
                         : "the HTTP server did not start";
        }
        return false;
    }
    listeningFd_ = listeningFd;
    if (proxied) {
        acceptor_ = std::make_unique<ProxyAcceptor>(
            listeningFd, settings_.trustedProxies, settings_.maxConnections,
            [this](int fd, const sockaddr* client, socklen_t length) {
                // The library closes the socket when it refuses it (over a limit).
                MHD_add_connection(daemon_, fd, client, length);
            },
            [this](std::string_view note) { log_.note(note); });
        if (!acceptor_->start()) {
            acceptor_.reset();  // closes the listening socket
            listeningFd_ = -1;
            stop();
            if (error != nullptr) {
                *error = "cannot start accepting connections";
            }
            return false;
        }
    }
    return true;
}

void HttpDaemon::quiesce() {
    if (acceptor_) {
        acceptor_.reset();  // closes the listening socket
        listeningFd_ = -1;
    }
    if (daemon_ != nullptr && listeningFd_ >= 0) {
        const MHD_socket fd = MHD_quiesce_daemon(daemon_);
        if (fd != MHD_INVALID_SOCKET) {
            ::close(fd);
        }
        listeningFd_ = -1;
    }
}

void HttpDaemon::stop() {
    acceptor_.reset();  // nothing is handed to the library after this
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);  // closes the listening socket unless quiesce() took it
        daemon_ = nullptr;
        listeningFd_ = -1;
    }
}

}  // namespace sayloft
