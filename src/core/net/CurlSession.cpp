#include "core/net/CurlSession.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "core/net/CurlResultTable.h"
#include "core/net/RequestBodyPipe.h"
#include "core/net/TransportError.h"

namespace sayloft {
namespace {

// libcurl's global state is set up once per process, before the first session exists, and left
// in place: tearing it down while another library might use libcurl is not safe.
void initialiseLibcurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

// One request in flight. Lives on the stack of the thread that called perform(), which waits
// until the worker marks it done; the worker touches it only between add and done.
struct Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    std::chrono::steady_clock::duration idleLimit{};
    std::chrono::steady_clock::time_point lastActivity;
    curl_off_t bytesSeen = 0;
    bool idleTimedOut = false;
    std::string body;
    std::string serverTiming;
    // A streamed body, and whether libcurl is paused on it (empty for now); worker thread only.
    std::shared_ptr<RequestBodyPipe> pipe;
    bool paused = false;
    char errorText[CURL_ERROR_SIZE] = {};

    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool cancelled = false;
    CURLcode result = CURLE_OK;
    long status = 0;
    long osErrno = 0;

    ~Transfer() {
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(headers);
    }
};

// Keeps the Server-Timing header (the name in any case); every other header is ignored.
std::size_t readHeader(char* data, std::size_t size, std::size_t count, void* user) {
    const std::size_t bytes = size * count;
    constexpr std::string_view name = "server-timing:";
    std::string_view line(data, bytes);
    if (line.size() > name.size() &&
        std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        static_cast<Transfer*>(user)->serverTiming.assign(line);
    }
    if (auto& pipe = static_cast<Transfer*>(user)->pipe) {
        pipe->noteAnswerProgress();
    }
    return bytes;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->body.size() + bytes > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0;  // makes libcurl fail the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    if (transfer->pipe) {
        transfer->pipe->noteAnswerProgress();
    }
    return bytes;
}

// Feeds a streamed body to libcurl. An empty pipe pauses the upload (the answer is still read);
// the worker resumes it once the pipe's writer has woken it.
std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const RequestBodyPipe::Take taken = transfer->pipe->take(buffer, size * count);
    if (taken.bytes > 0 || taken.ended) {
        return taken.bytes;  // 0 at the end: libcurl sends the final chunk
    }
    transfer->paused = true;
    return CURL_READFUNC_PAUSE;
}

// Called by libcurl at least once a second and whenever data moves: ends a transfer on which no
// byte has moved, in either direction, for the idle limit. While a streamed body is paused on an
// empty pipe the transfer is waiting for its writer, not for the network, so the idle clock
// starts again when the upload resumes: a dead connection is still noticed once there is
// something to send (bytes the connection does not take) or the body has ended (no answer).
int watchIdle(void* user, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal,
              curl_off_t uploaded) {
    (void)downloadTotal;
    (void)uploadTotal;
    auto* transfer = static_cast<Transfer*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (transfer->paused) {
        transfer->lastActivity = now;
        return 0;
    }
    if (downloaded + uploaded != transfer->bytesSeen) {
        transfer->bytesSeen = downloaded + uploaded;
        transfer->lastActivity = now;
        return 0;
    }
    if (now - transfer->lastActivity >= transfer->idleLimit) {
        transfer->idleTimedOut = true;
        return 1;  // makes libcurl fail the transfer with CURLE_ABORTED_BY_CALLBACK
    }
    return 0;
}

bool hasHeader(const HttpRequest& request, std::string_view name) {
    return request.header(name) != nullptr;
}

template <class T>
void setOption(CURL* easy, CURLoption option, T value) {
    if (curl_easy_setopt(easy, option, value) != CURLE_OK) {
        throw TransportError(TransportError::Code::unknown, "libcurl rejected an option");
    }
}

}  // namespace

struct CurlSession::Impl {
    Options options;
    CURLM* multi = nullptr;

    std::mutex mutex;  // guards the queues and closing
    std::vector<std::pair<std::uint64_t, Transfer*>> toAdd;
    std::vector<std::uint64_t> toCancel;
    bool closing = false;
    std::uint64_t nextId = 1;

    std::thread worker;

    explicit Impl(Options opts) : options(std::move(opts)) {
        initialiseLibcurlOnce();
        multi = curl_multi_init();
        if (multi == nullptr) {
            throw std::runtime_error("libcurl: no multi handle");
        }
        try {
            worker = std::thread([this] { run(); });
        } catch (...) {
            curl_multi_cleanup(multi);
            throw;
        }
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        curl_multi_wakeup(multi);
        worker.join();
        curl_multi_cleanup(multi);  // closes every pooled connection
    }

    void complete(Transfer* transfer, CURLcode result, bool cancelled) {
        curl_multi_remove_handle(multi, transfer->easy);
        long status = 0;
        long osErrno = 0;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(transfer->easy, CURLINFO_OS_ERRNO, &osErrno);
        std::lock_guard lock(transfer->mutex);
        transfer->result = result;
        transfer->cancelled = cancelled;
        transfer->status = status;
        transfer->osErrno = osErrno;
        transfer->done = true;
        transfer->finished.notify_one();
    }

    // The worker: the only thread that touches the multi handle (apart from curl_multi_wakeup).
    void run() {
        std::map<std::uint64_t, Transfer*> active;
        for (;;) {
            std::vector<std::pair<std::uint64_t, Transfer*>> adding;
            std::vector<std::uint64_t> cancelling;
            bool stopping = false;
            {
                std::lock_guard lock(mutex);
                adding.swap(toAdd);
                cancelling.swap(toCancel);
                stopping = closing;
            }
            for (auto& [id, transfer] : adding) {
                if (curl_multi_add_handle(multi, transfer->easy) != CURLM_OK) {
                    // Never added: report it as a failure without touching the multi handle.
                    std::lock_guard lock(transfer->mutex);
                    transfer->result = CURLE_FAILED_INIT;
                    transfer->done = true;
                    transfer->finished.notify_one();
                    continue;
                }
                active.emplace(id, transfer);
            }
            for (std::uint64_t id : cancelling) {
                if (auto found = active.find(id); found != active.end()) {
                    complete(found->second, CURLE_ABORTED_BY_CALLBACK, true);
                    active.erase(found);
                }
            }
            if (stopping) {
                for (auto& [id, transfer] : active) {
                    complete(transfer, CURLE_ABORTED_BY_CALLBACK, true);
                }
                return;
            }
            for (auto& [id, transfer] : active) {
                if (transfer->paused && transfer->pipe->readable()) {
                    transfer->paused = false;
                    transfer->lastActivity = std::chrono::steady_clock::now();
                    curl_easy_pause(transfer->easy, CURLPAUSE_CONT);
                }
            }

            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                Transfer* transfer = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
                const CURLcode result = message->data.result;
                for (auto it = active.begin(); it != active.end(); ++it) {
                    if (it->second == transfer) {
                        active.erase(it);
                        break;
                    }
                }
                complete(transfer, result, false);
            }
            // Sleeps until a socket is ready, libcurl's next timer is due, or a wakeup (new
            // request, cancellation, closing, something new in a streamed body).
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    void prepare(Transfer& transfer, const HttpRequest& request) {
        CURL* easy = transfer.easy;
        setOption(easy, CURLOPT_PRIVATE, static_cast<void*>(&transfer));
        setOption(easy, CURLOPT_URL, request.url.c_str());
        setOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        if (!options.unixSocket.empty()) {
            setOption(easy, CURLOPT_UNIX_SOCKET_PATH, options.unixSocket.c_str());
        }
        setOption(easy, CURLOPT_NOSIGNAL, 1L);
        setOption(easy, CURLOPT_FOLLOWLOCATION, 0L);
        setOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        setOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options.caFile.empty()) {
            setOption(easy, CURLOPT_CAINFO, options.caFile.c_str());
        }
        setOption(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
        setOption(easy, CURLOPT_WRITEFUNCTION, &writeBody);
        setOption(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
        setOption(easy, CURLOPT_HEADERFUNCTION, &readHeader);
        setOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
        setOption(easy, CURLOPT_MAXFILESIZE_LARGE,
                  static_cast<curl_off_t>(options.maxResponseBytes));

        // The total time-out is libcurl's; the idle time-out is watched here, since libcurl's
        // low-speed limit averages over several seconds and would let a stall run on for longer.
        const auto idleMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(options.idleTimeout);
        setOption(easy, CURLOPT_TIMEOUT_MS,
                  std::max(1L, static_cast<long>(request.timeout.count())));
        setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, static_cast<long>(idleMs.count())));
        transfer.idleLimit = options.idleTimeout;
        transfer.lastActivity = std::chrono::steady_clock::now();
        setOption(easy, CURLOPT_NOPROGRESS, 0L);
        setOption(easy, CURLOPT_XFERINFOFUNCTION, &watchIdle);
        setOption(easy, CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));

        if (request.bodySource) {
            // Chunked needs HTTP/1.1 (no HTTP/2 through ALPN); the size is not known.
            setOption(easy, CURLOPT_POST, 1L);
            setOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
            setOption(easy, CURLOPT_READFUNCTION, &readBody);
            setOption(easy, CURLOPT_READDATA, static_cast<void*>(&transfer));
            if (request.method != "POST") {
                setOption(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
        } else if (request.method == "GET") {
            setOption(easy, CURLOPT_HTTPGET, 1L);
        } else {
            setOption(easy, CURLOPT_POST, 1L);
            setOption(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                      static_cast<curl_off_t>(request.body.size()));
            setOption(easy, CURLOPT_POSTFIELDS, request.body.data());
            if (request.method != "POST") {
                setOption(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
        }

        // The request's own headers, and none of libcurl's optional ones: an empty value
        // removes a header libcurl would add by itself.
        auto append = [&transfer](const std::string& line) {
            curl_slist* grown = curl_slist_append(transfer.headers, line.c_str());
            if (grown == nullptr) {
                throw std::bad_alloc();
            }
            transfer.headers = grown;
        };
        for (const auto& [name, value] : request.headers) {
            append(name + ": " + value);
        }
        append("Accept:");
        append("Expect:");
        if (request.bodySource) {
            append("Transfer-Encoding: chunked");
        }
        if (request.method != "GET" && !hasHeader(request, "Content-Type")) {
            append("Content-Type:");
        }
        setOption(easy, CURLOPT_HTTPHEADER, transfer.headers);
    }
};

CurlSession::CurlSession() : CurlSession(Options{}) {
}

CurlSession::CurlSession(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
}

CurlSession::~CurlSession() = default;

HttpResponse CurlSession::perform(const HttpRequest& request, std::stop_token stop) {
    if (stop.stop_requested()) {
        throw TransportError(TransportError::Code::cancelled, "cancelled");
    }
    Transfer transfer;
    transfer.maxBytes = impl_->options.maxResponseBytes;
    transfer.easy = curl_easy_init();
    if (transfer.easy == nullptr) {
        throw TransportError(TransportError::Code::unknown, "libcurl: no easy handle");
    }
    impl_->prepare(transfer, request);

    // The pipe's writer wakes the worker to resume a paused upload; the wakeup is cleared before
    // the transfer leaves this frame, whichever way it leaves.
    struct WakeupGuard {
        std::shared_ptr<RequestBodyPipe> pipe;
        ~WakeupGuard() {
            if (pipe) {
                pipe->setWakeup({});
            }
        }
    } wakeupGuard{request.bodySource};
    if (request.bodySource) {
        transfer.pipe = request.bodySource;
        request.bodySource->setWakeup([multi = impl_->multi] { curl_multi_wakeup(multi); });
    }

    std::uint64_t id = 0;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->closing) {
            throw TransportError(TransportError::Code::cancelled, "session closed");
        }
        id = impl_->nextId++;
        impl_->toAdd.emplace_back(id, &transfer);
    }
    curl_multi_wakeup(impl_->multi);

    {
        // Registered after the transfer was queued so that a stop request always finds it; the
        // callback is gone (and not running) before the transfer leaves this frame.
        std::stop_callback onStop(stop, [this, id] {
            {
                std::lock_guard lock(impl_->mutex);
                impl_->toCancel.push_back(id);
            }
            curl_multi_wakeup(impl_->multi);
        });
        std::unique_lock lock(transfer.mutex);
        transfer.finished.wait(lock, [&transfer] { return transfer.done; });
    }

    if (transfer.cancelled) {
        throw TransportError(TransportError::Code::cancelled, "cancelled");
    }
    if (transfer.result != CURLE_OK) {
        if (transfer.idleTimedOut) {
            throw TransportError(TransportError::Code::timedOut,
                                 "no data within the idle time-out");
        }
        const auto code = transfer.tooLarge || transfer.result == CURLE_FILESIZE_EXCEEDED
                              ? TransportError::Code::responseTooLarge
                              : CurlResultTable::classify(transfer.result, transfer.osErrno);
        std::string detail = transfer.errorText[0] != '\0'
                                 ? std::string(transfer.errorText)
                                 : std::string(curl_easy_strerror(transfer.result));
        throw TransportError(code, detail);
    }
    return HttpResponse{transfer.status, std::move(transfer.body),
                        std::move(transfer.serverTiming)};
}

}  // namespace sayloft
