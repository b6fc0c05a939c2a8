#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "core/net/HttpRequest.h"
#include "core/net/HttpResponse.h"
#include "core/net/HttpTransport.h"
#include "core/net/RequestBodyPipe.h"
#include "core/net/TranscriptionStream.h"

namespace sayloft {

// A TranscriptionStream over one HTTP request with a streamed body (RequestBodyPipe), performed
// on a session of its own by a worker thread from construction on. The samples go out as
// big-endian 16-bit PCM (audio/L16). The answer decides the outcome whenever it comes, even
// before the end was sent: 200 with a transcript succeeds; 404, 405, 415 and 501 mean the
// service does not stream (StreamFailed::notOffered); every other status, a broken connection
// or a malformed body fails.
class ServiceStream final : public TranscriptionStream {
public:
    // Starts the request (its body source is replaced by the stream's own). stallAfterEnd: see
    // TranscriptionStream::stallLimit; shorter in tests.
    ServiceStream(HttpRequest request, std::unique_ptr<HttpTransport> session,
                  std::chrono::milliseconds stallAfterEnd = TranscriptionStream::stallLimit);
    // A stream that never starts: append() does nothing, finish() throws StreamFailed(why).
    explicit ServiceStream(std::string why);
    // Cancels what is still running and joins the worker; never waits for the service.
    ~ServiceStream() override;
    ServiceStream(const ServiceStream&) = delete;
    ServiceStream& operator=(const ServiceStream&) = delete;

    void append(std::span<const std::int16_t> samples) override;
    TranscribeResult finish(std::stop_token stop) override;
    void cancel() override;

private:
    void run();
    TranscribeResult outcome();

    std::string refusal_;
    HttpRequest request_;
    std::unique_ptr<HttpTransport> session_;
    std::chrono::milliseconds stallLimit_;
    std::shared_ptr<RequestBodyPipe> pipe_ = std::make_shared<RequestBodyPipe>();
    std::stop_source abort_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool finishing_ = false;
    std::optional<HttpResponse> response_;
    std::exception_ptr error_;

    std::thread worker_;  // last: started after everything it uses exists
};

}  // namespace sayloft
