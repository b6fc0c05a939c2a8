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
#include "fakes/Script.h"

namespace sayloft::test {

// Answers transcriptions from a script, in order: a result, an APIError (thrown as an APIFailure)
// or another exception. With the script empty it answers an empty transcript. Registrations have a
// script of their own; with it empty they answer "registered-token". Records every call.
class FakeTranscriptionService final : public TranscriptionService {
public:
    using Answer = std::variant<TranscribeResult, APIError, std::exception_ptr>;
    using Registration = std::variant<std::string, APIError, std::exception_ptr>;

    struct Call {
        std::string token;
        std::vector<std::uint8_t> wav;
        double audioSeconds;
    };

    void script(const Answer& answer) { answers_.push({scripted(answer)}); }
    void scriptText(const std::string& text, double duration = 1.0) {
        script(TranscribeResult{text, duration});
    }
    void scriptRegistration(const Registration& answer) { registrations_.push({scripted(answer)}); }
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
        return answers_.next(TranscribeResult{});
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
        return registrations_.next("registered-token");
    }

private:
    // An APIError is thrown as the APIFailure the real client throws.
    template <typename Value>
    static typename Script<Value>::Answer scripted(
        const std::variant<Value, APIError, std::exception_ptr>& answer) {
        if (const auto* error = std::get_if<APIError>(&answer)) {
            return std::make_exception_ptr(APIFailure(*error));
        }
        if (const auto* other = std::get_if<std::exception_ptr>(&answer)) {
            return *other;
        }
        return std::get<Value>(answer);
    }

    mutable std::mutex mutex_;
    Script<TranscribeResult> answers_;
    std::vector<Call> calls_;
    Script<std::string> registrations_;
    std::deque<FakeStreamRecord::Answer> streamAnswers_;
    std::vector<std::shared_ptr<FakeStreamRecord>> streamsOpened_;
    std::atomic<int> pings_{0};
    std::atomic<int> registrationCalls_{0};
};

}  // namespace sayloft::test
