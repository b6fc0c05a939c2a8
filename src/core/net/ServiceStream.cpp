#include "core/net/ServiceStream.h"

#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "core/model/APIFailure.h"
#include "core/net/APIClient.h"
#include "core/net/RequestCancelled.h"
#include "core/net/StreamFailed.h"

namespace sayloft {
namespace {

bool meansNotOffered(long status) {
    return status == 404 || status == 405 || status == 415 || status == 501;
}

}  // namespace

ServiceStream::ServiceStream(HttpRequest request, std::unique_ptr<HttpTransport> session,
                             std::chrono::milliseconds stallAfterEnd)
    : request_(std::move(request)), session_(std::move(session)), stallLimit_(stallAfterEnd) {
    request_.bodySource = pipe_;
    if (!session_) {
        refusal_ = "no session";
        return;
    }
    worker_ = std::thread([this] { run(); });
}

ServiceStream::ServiceStream(std::string why)
    : refusal_(std::move(why)), stallLimit_(TranscriptionStream::stallLimit) {
}

ServiceStream::~ServiceStream() {
    cancel();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void ServiceStream::run() {
    std::optional<HttpResponse> response;
    std::exception_ptr error;
    try {
        response = session_->perform(request_, abort_.get_token());
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    response_ = std::move(response);
    error_ = error;
    done_ = true;
    changed_.notify_all();
}

void ServiceStream::append(std::span<const std::int16_t> samples) {
    if (!refusal_.empty() || samples.empty()) {
        return;
    }
    // audio/L16 is big-endian whatever the machine.
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto value = static_cast<std::uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<char>(value >> 8);
        bytes[2 * i + 1] = static_cast<char>(value & 0xff);
    }
    pipe_->write(bytes);  // ignored once finished (closed); dropped with the transfer if cancelled
}

void ServiceStream::cancel() {
    // Never closes the pipe: the final chunk would tell the service the audio is complete.
    abort_.request_stop();
}

TranscribeResult ServiceStream::finish(std::stop_token stop) {
    if (!refusal_.empty()) {
        throw StreamFailed(refusal_, false);
    }
    {
        std::lock_guard lock(mutex_);
        if (finishing_) {
            throw std::logic_error("TranscriptionStream::finish called twice");
        }
        finishing_ = true;
    }
    if (abort_.stop_requested()) {
        throw StreamFailed("the stream was cancelled", false);
    }
    pipe_->close();

    std::stop_callback onStop(stop, [this] {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop.stop_requested()) {
            lock.unlock();
            cancel();
            throw RequestCancelled();
        }
        if (done_) {
            break;
        }
        // The stall clock restarts whenever the transport takes a byte or an answer byte comes.
        const auto deadline = pipe_->lastProgress() + stallLimit_;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && !done_ &&
            !stop.stop_requested() &&
            RequestBodyPipe::Clock::now() >= pipe_->lastProgress() + stallLimit_) {
            lock.unlock();
            cancel();
            throw StreamFailed("the stream stalled after its end was sent", false);
        }
    }
    lock.unlock();
    worker_.join();
    return outcome();
}

TranscribeResult ServiceStream::outcome() {
    if (!response_) {
        std::string why = "the stream broke";
        try {
            std::rethrow_exception(error_);
        } catch (const std::exception& error) {
            why += std::string(": ") + error.what();
        } catch (...) {
        }
        throw StreamFailed(why, false);
    }
    const HttpResponse& response = *response_;
    if (response.status == 200) {
        try {
            return APIClient::parseTranscript(response.body);
        } catch (const APIFailure&) {
            throw StreamFailed("the service's answer to the stream is malformed", false);
        }
    }
    throw StreamFailed(
        "the service answered the stream with status " + std::to_string(response.status),
        meansNotOffered(response.status));
}

}  // namespace sayloft
