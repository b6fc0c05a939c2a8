#pragma once

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "app/TranscriptionService.h"
#include "core/model/APIFailure.h"
#include "fakes/FakeTranscriptionStream.h"

namespace sayloft::test {

// Answers transcriptions from a script, in order: a result, an APIError (thrown as an APIFailure)
// or another exception. With the script empty it answers an empty transcript. Registrations have a
// script of their own (a token, an APIError or another exception); with it empty they answer
// "registered-token". Records every call.
class FakeTranscriptionService final : public TranscriptionService {
public:
    using Answer = std::variant<TranscribeResult, APIError, std::exception_ptr>;
    using Registration = std::variant<std::string, APIError, std::exception_ptr>;

    struct Call {
        std::string token;
        std::vector<std::uint8_t> wav;
        double audioSeconds;
    };

    void script(Answer answer) {
        std::lock_guard lock(mutex_);
        answers_.push_back(std::move(answer));
    }
    void scriptText(const std::string& text, double duration = 1.0) {
        script(TranscribeResult{text, duration});
    }

    void scriptRegistration(Registration answer) {
        std::lock_guard lock(mutex_);
        registrations_.push_back(std::move(answer));
    }
    int registrationCalls() const { return registrationCalls_.load(); }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int pings() const { return pings_.load(); }

    TranscribeResult transcribe(const std::string& token, std::span<const std::uint8_t> wav,
                                double audioSeconds, std::stop_token) override {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back({token, {wav.begin(), wav.end()}, audioSeconds});
        }
        return next(answers_, TranscribeResult{});
    }

    // With streams set, every openStream() hands out a stream answering the next scripted stream
    // answer (an empty transcript when none is left); streamsOpened() keeps their records.
    bool streams = false;
    void scriptStream(FakeStreamRecord::Answer answer) {
        std::lock_guard lock(mutex_);
        streamAnswers_.push_back(std::move(answer));
    }
    std::vector<std::shared_ptr<FakeStreamRecord>> streamsOpened() const {
        std::lock_guard lock(mutex_);
        return streamsOpened_;
    }

    std::unique_ptr<TranscriptionStream> openStream(const std::string&) override {
        if (!streams) {
            return nullptr;
        }
        auto record = std::make_shared<FakeStreamRecord>();
        std::lock_guard lock(mutex_);
        if (!streamAnswers_.empty()) {
            record->answer = std::move(streamAnswers_.front());
            streamAnswers_.pop_front();
        }
        streamsOpened_.push_back(record);
        return std::make_unique<FakeTranscriptionStream>(record);
    }

    void ping(std::stop_token) noexcept override { ++pings_; }

    std::string registerDevice(std::stop_token) override {
        ++registrationCalls_;
        return next(registrations_, std::string("registered-token"));
    }

private:
    // The next scripted answer (the fallback when none is left): returned, or thrown.
    template <typename Value>
    Value next(std::deque<std::variant<Value, APIError, std::exception_ptr>>& script,
               Value fallback) {
        std::variant<Value, APIError, std::exception_ptr> answer = std::move(fallback);
        {
            std::lock_guard lock(mutex_);
            if (!script.empty()) {
                answer = std::move(script.front());
                script.pop_front();
            }
        }
        if (const auto* error = std::get_if<APIError>(&answer)) {
            throw APIFailure(*error);
        }
        if (const auto* other = std::get_if<std::exception_ptr>(&answer)) {
            std::rethrow_exception(*other);
        }
        return std::get<Value>(std::move(answer));
    }

    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    std::vector<Call> calls_;
    std::deque<Registration> registrations_;
    std::deque<FakeStreamRecord::Answer> streamAnswers_;
    std::vector<std::shared_ptr<FakeStreamRecord>> streamsOpened_;
    std::atomic<int> pings_{0};
    std::atomic<int> registrationCalls_{0};
};

}  // namespace sayloft::test
