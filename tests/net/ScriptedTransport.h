#pragma once

#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <variant>
#include <vector>

#include "core/net/HttpTransport.h"
#include "core/net/TransportError.h"

namespace sayloft::testing {

// A fake session answering from a script: each perform() takes the next step, an HTTP status
// (with a body) or an exception to throw. Records every request it was asked to perform.
class ScriptedTransport final : public HttpTransport {
public:
    struct Answer {
        long status;
        std::string body;
    };
    using Step = std::variant<Answer, std::exception_ptr>;

    static Step status(long code, std::string body = {}) { return Answer{code, std::move(body)}; }
    static Step fail(TransportError::Code code) {
        return std::make_exception_ptr(TransportError(code, "scripted"));
    }
    static Step failWith(std::exception_ptr error) { return error; }

    explicit ScriptedTransport(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

    HttpResponse perform(const HttpRequest& request, std::stop_token) override {
        std::lock_guard lock(mutex_);
        performed_.push_back(request);
        if (steps_.empty()) {
            throw std::logic_error("ScriptedTransport: more requests than scripted");
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        if (auto* error = std::get_if<std::exception_ptr>(&step)) {
            std::rethrow_exception(*error);
        }
        auto& answer = std::get<Answer>(step);
        return HttpResponse{answer.status, answer.body};
    }

    std::size_t tries() const {
        std::lock_guard lock(mutex_);
        return performed_.size();
    }
    std::vector<HttpRequest> performed() const {
        std::lock_guard lock(mutex_);
        return performed_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<Step> steps_;
    std::vector<HttpRequest> performed_;
};

}  // namespace sayloft::testing
