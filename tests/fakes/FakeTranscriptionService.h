#pragma once

#include <exception>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Script.h"
#include "app/TranscriptionService.h"
#include "core/model/APIFailure.h"

namespace sayloft::test {

// Answers transcriptions from a script, in order: a result, an APIError (thrown as the
// APIFailure the real client throws) or another exception; with the script empty, an empty
// transcript. Registrations have a script of their own ("registered-token" when empty). With
// `streams` set, openStream() hands out streams whose finish() answers from a third script.
// Records every call; everything runs on the test's thread.
class FakeTranscriptionService final : public TranscriptionService {
public:
    using Answer = std::variant<TranscribeResult, APIError, std::exception_ptr>;
    using Registration = std::variant<std::string, APIError, std::exception_ptr>;
    struct Call {
        std::string token;
        std::vector<std::uint8_t> wav;
        double audioSeconds;
    };
    // What became of one stream; the test keeps it after the stream itself is gone.
    struct Stream {
        std::vector<std::int16_t> samples;
        bool finished = false;
        bool cancelled = false;
    };

    std::vector<Call> calls;
    int pings = 0;
    int registrations = 0;
    bool streams = false;
    std::vector<std::shared_ptr<Stream>> opened;

    void script(const Answer& answer) { answers_.push({scripted(answer)}); }
    void scriptText(const std::string& text, double duration = 1.0) {
        script(TranscribeResult{text, duration});
    }
    void scriptRegistration(const Registration& answer) { registrations_.push({scripted(answer)}); }
    void scriptStream(const Answer& answer) { streamAnswers_.push({scripted(answer)}); }

    TranscribeResult transcribe(const std::string& token, std::span<const std::uint8_t> wav,
                                double audioSeconds, std::stop_token) override {
        calls.push_back({token, {wav.begin(), wav.end()}, audioSeconds});
        return answers_.next(TranscribeResult{});
    }
    std::unique_ptr<TranscriptionStream> openStream(const std::string&) override {
        if (!streams) {
            return nullptr;
        }
        opened.push_back(std::make_shared<Stream>());
        return std::make_unique<FakeStream>(*opened.back(), streamAnswers_);
    }
    void ping(std::stop_token) noexcept override { ++pings; }
    std::string registerDevice(std::stop_token) override {
        ++registrations;
        return registrations_.next("registered-token");
    }

private:
    class FakeStream final : public TranscriptionStream {
    public:
        FakeStream(Stream& record, Script<TranscribeResult>& answers)
            : record_(record), answers_(answers) {}
        ~FakeStream() override { cancel(); }
        void append(std::span<const std::int16_t> samples) override {
            if (!record_.finished && !record_.cancelled) {
                record_.samples.insert(record_.samples.end(), samples.begin(), samples.end());
            }
        }
        TranscribeResult finish(std::stop_token) override {
            record_.finished = true;
            return answers_.next(TranscribeResult{});
        }
        void cancel() override { record_.cancelled = record_.cancelled || !record_.finished; }

    private:
        Stream& record_;
        Script<TranscribeResult>& answers_;
    };

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

    Script<TranscribeResult> answers_;
    Script<std::string> registrations_;
    Script<TranscribeResult> streamAnswers_;
};

}  // namespace sayloft::test
