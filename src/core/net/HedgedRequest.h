#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "core/net/DeadlineExceeded.h"
#include "core/net/RequestCancelled.h"
#include "core/net/Sleeper.h"

namespace sayloft {

// Runs an unreliable operation so that a slow or failed first attempt costs little time and the
// whole run has a firm time limit. The first attempt starts at once; a second one (index 1)
// starts when the hedge delay passes or the first fails transiently, whichever comes first;
// the first success wins; a deadline ends everything. Holds no state between runs.
struct HedgedRequest {
    // Seconds from the start of a transcription until the hedge may start.
    static double hedgeDelay(double audioSeconds) { return audioSeconds * 0.1 + 4.5; }
    // Seconds from the start of a transcription until it gives up.
    static double deadline(double audioSeconds) { return audioSeconds * 0.3 + 10.0; }

    using IsTransient = std::function<bool(const std::exception_ptr&)>;
    template <class T>
    using Attempt = std::function<T(int index, std::stop_token stop)>;

    // Returns the result of the first attempt that succeeds. Throws
    //  - the error of an attempt for which isTransient is false, at once;
    //  - the error of the attempt that failed last, when both failed transiently;
    //  - DeadlineExceeded when the deadline passes first;
    //  - RequestCancelled when `cancel` is triggered first;
    //  - std::invalid_argument for a delay that is negative, not finite or absurdly large.
    // Each attempt runs on a thread of its own, and both timers share one more thread that
    // waits for the earlier due time and then for the later, each with its own stop token; when
    // the run is decided every child is asked to stop, and the run returns only after all of
    // them have ended. `attempt` is called at most twice, with 0 and then 1, possibly concurrently,
    // and must end promptly when its stop token is triggered. Timers sleep on `sleeper`.
    template <class T>
    static T run(double hedgeAfter, double deadlineAfter, const IsTransient& isTransient,
                 const Attempt<T>& attempt, Sleeper& sleeper, std::stop_token cancel = {});

private:
    static std::chrono::nanoseconds toNanoseconds(double seconds) {
        // Truncated to whole nanoseconds; 1e9 s (about 31 years) keeps the product in range.
        if (!std::isfinite(seconds) || seconds < 0.0 || seconds > 1e9) {
            throw std::invalid_argument("hedged request: delays must be finite and not negative");
        }
        return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
    }
};

template <class T>
T HedgedRequest::run(double hedgeAfter, double deadlineAfter, const IsTransient& isTransient,
                     const Attempt<T>& attempt, Sleeper& sleeper, std::stop_token cancel) {
    const auto hedgeDelay = toNanoseconds(hedgeAfter);
    const auto deadlineDelay = toNanoseconds(deadlineAfter);
    if (cancel.stop_requested()) {
        throw RequestCancelled();
    }

    enum class Kind { ok, failed, hedge, deadline };
    struct Event {
        Kind kind;
        std::optional<T> result;
        std::exception_ptr error;
    };
    // Shared between the loop below and the children; outlives them (declared before them).
    struct Channel {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Event> events;
        int running = 0;  // children started and not yet delivered
        bool cancelled = false;
    } channel;

    // A child's last event also counts it as ended.
    auto deliver = [&channel](Event event, bool last = true) {
        std::lock_guard lock(channel.mutex);
        channel.events.push_back(std::move(event));
        channel.running -= last ? 1 : 0;
        channel.wake.notify_one();
    };

    std::vector<std::jthread> children;
    children.reserve(3);
    auto startChild = [&](auto body) {
        {
            std::lock_guard lock(channel.mutex);
            ++channel.running;
        }
        try {
            children.emplace_back(std::move(body));
        } catch (...) {
            std::lock_guard lock(channel.mutex);
            --channel.running;
            throw;
        }
    };
    auto startAttempt = [&](int index) {
        startChild([&attempt, &deliver, index](std::stop_token stop) {
            Event event{Kind::ok, std::nullopt, nullptr};
            try {
                event.result.emplace(attempt(index, stop));
            } catch (...) {
                event.kind = Kind::failed;
                event.error = std::current_exception();
            }
            deliver(std::move(event));
        });
    };
    // One thread for both timers. Both due times are measured from the start on the sleeper's
    // clock, so the time spent delivering the earlier event does not delay the later. On a
    // tie the deadline comes first: a hedge started at the deadline could never win.
    auto startTimers = [&] {
        const bool hedgeFirst = hedgeDelay < deadlineDelay;
        const auto first = std::min(hedgeDelay, deadlineDelay);
        const auto second = std::max(hedgeDelay, deadlineDelay);
        const Kind firstKind = hedgeFirst ? Kind::hedge : Kind::deadline;
        const Kind secondKind = hedgeFirst ? Kind::deadline : Kind::hedge;
        startChild([&sleeper, &deliver, first, second, firstKind, secondKind,
                    start = sleeper.now()](std::stop_token stop) {
            // An interrupted sleep still delivers an event, so that the thread counts as ended;
            // the loop has stopped listening by then, so the event is discarded.
            if (!sleeper.sleepUntil(start + first, stop)) {
                deliver(Event{firstKind, std::nullopt, nullptr});
                return;
            }
            deliver(Event{firstKind, std::nullopt, nullptr}, /*last=*/false);
            sleeper.sleepUntil(start + second, stop);
            deliver(Event{secondKind, std::nullopt, nullptr});
        });
    };
    // Asks every child to stop and waits for all of them; their late events are discarded.
    auto endChildren = [&children] {
        for (auto& child : children) {
            child.request_stop();
        }
        for (auto& child : children) {
            if (child.joinable()) {
                child.join();
            }
        }
    };

    // However the run ends (result, error, or an exception while starting a child), every child
    // has been asked to stop and has ended before it returns.
    struct EndChildrenOnExit {
        decltype(endChildren)& end;
        ~EndChildrenOnExit() { end(); }
    } endChildrenOnExit{endChildren};

    std::stop_callback onCancel(cancel, [&channel] {
        std::lock_guard lock(channel.mutex);
        channel.cancelled = true;
        channel.wake.notify_one();
    });

    startAttempt(0);
    startTimers();

    int attemptsStarted = 1;
    int attemptsFailed = 0;
    std::exception_ptr lastError = std::make_exception_ptr(DeadlineExceeded());
    auto startHedge = [&] {
        if (attemptsStarted < 2) {
            startAttempt(1);
            attemptsStarted = 2;
        }
    };

    for (;;) {
        std::optional<Event> next;
        bool cancelled = false;
        {
            std::unique_lock lock(channel.mutex);
            channel.wake.wait(lock, [&] {
                return channel.cancelled || !channel.events.empty() || channel.running == 0;
            });
            cancelled = channel.cancelled;
            if (!cancelled && !channel.events.empty()) {
                next.emplace(std::move(channel.events.front()));
                channel.events.pop_front();
            }
        }
        if (cancelled) {
            throw RequestCancelled();
        }
        if (!next) {  // no child left
            std::rethrow_exception(lastError);
        }

        Event& event = *next;
        switch (event.kind) {
            case Kind::ok:
                return std::move(*event.result);
            case Kind::failed:
                if (!isTransient(event.error)) {
                    std::rethrow_exception(event.error);
                }
                ++attemptsFailed;
                if (attemptsStarted < 2) {
                    startHedge();
                } else if (attemptsFailed == attemptsStarted) {
                    std::rethrow_exception(event.error);
                }
                lastError = event.error;
                break;
            case Kind::hedge:
                startHedge();
                break;
            case Kind::deadline:
                throw DeadlineExceeded();
        }
    }
}

}  // namespace sayloft
