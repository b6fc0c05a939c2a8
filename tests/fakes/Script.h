#pragma once

#include <deque>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <utility>
#include <variant>

namespace sayloft::test {

// The answers a fake gives, scripted by the test and used up in order: each a value to return or
// an exception to throw. An empty script answers the fallback. Thread-safe, since the code under
// test may ask from a worker thread.
template <typename Value>
class Script {
public:
    using Answer = std::variant<Value, std::exception_ptr>;

    void push(std::initializer_list<Answer> answers) {
        std::lock_guard lock(mutex_);
        answers_.insert(answers_.end(), answers);
    }

    Value next(Value fallback) {
        Answer answer = std::move(fallback);
        {
            std::lock_guard lock(mutex_);
            if (!answers_.empty()) {
                answer = std::move(answers_.front());
                answers_.pop_front();
            }
        }
        if (const auto* failure = std::get_if<std::exception_ptr>(&answer)) {
            std::rethrow_exception(*failure);
        }
        return std::get<Value>(std::move(answer));
    }

private:
    std::mutex mutex_;
    std::deque<Answer> answers_;
};

}  // namespace sayloft::test
