#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "core/net/TranscriptionStream.h"

namespace sayloft::test {

// What became of one stream the fake service handed out; the test keeps it after the stream
// itself is gone. answer: what finish() gives (a result, or an exception it throws).
struct FakeStreamRecord {
    using Answer = std::variant<TranscribeResult, std::exception_ptr>;

    mutable std::mutex mutex;
    Answer answer = TranscribeResult{};
    std::vector<std::int16_t> samples;
    bool finished = false;
    bool cancelled = false;

    std::vector<std::int16_t> received() const {
        std::lock_guard lock(mutex);
        return samples;
    }
    bool wasCancelled() const {
        std::lock_guard lock(mutex);
        return cancelled;
    }
    bool wasFinished() const {
        std::lock_guard lock(mutex);
        return finished;
    }
};

class FakeTranscriptionStream final : public TranscriptionStream {
public:
    explicit FakeTranscriptionStream(std::shared_ptr<FakeStreamRecord> record)
        : record_(std::move(record)) {}
    ~FakeTranscriptionStream() override { cancel(); }

    void append(std::span<const std::int16_t> samples) override {
        std::lock_guard lock(record_->mutex);
        if (!record_->finished && !record_->cancelled) {
            record_->samples.insert(record_->samples.end(), samples.begin(), samples.end());
        }
    }

    TranscribeResult finish(std::stop_token) override {
        FakeStreamRecord::Answer answer;
        {
            std::lock_guard lock(record_->mutex);
            record_->finished = true;
            answer = record_->answer;
        }
        if (const auto* failure = std::get_if<std::exception_ptr>(&answer)) {
            std::rethrow_exception(*failure);
        }
        return std::get<TranscribeResult>(answer);
    }

    void cancel() override {
        std::lock_guard lock(record_->mutex);
        if (!record_->finished) {
            record_->cancelled = true;
        }
    }

private:
    std::shared_ptr<FakeStreamRecord> record_;
};

}  // namespace sayloft::test
