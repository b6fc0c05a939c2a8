#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "VirtualSleeper.h"
#include "core/net/HedgedRequest.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using testing::VirtualSleeper;

struct Transient : std::runtime_error {
    explicit Transient(const std::string& what) : std::runtime_error(what) {}
};
struct Final : std::runtime_error {
    explicit Final(const std::string& what) : std::runtime_error(what) {}
};

// Attempts whose outcome the test decides while they run. An attempt waits until the test
// settles it or its stop token fires; it records when (in virtual time) it was called, whether
// it was stopped, and that it has ended.
class ScriptedAttempts {
public:
    struct Attempt {
        bool called = false;
        std::chrono::nanoseconds calledAt{};
        std::function<int()> outcome{};
        bool stopped = false;
        bool ended = false;
    };

    explicit ScriptedAttempts(VirtualSleeper& clock) : clock_(clock) {}

    int operator()(int index, std::stop_token stop) {
        std::function<int()> outcome;
        {
            std::unique_lock lock(mutex_);
            attempts_[index].called = true;
            attempts_[index].calledAt = clock_.now();
            changed_.notify_all();
            changed_.wait(lock, stop, [&] { return bool(attempts_[index].outcome); });
            outcome = attempts_[index].outcome;
            attempts_[index].stopped = !outcome;
        }
        struct MarkEnded {
            ScriptedAttempts& self;
            int index;
            ~MarkEnded() {
                std::lock_guard lock(self.mutex_);
                self.attempts_[index].ended = true;
            }
        } markEnded{*this, index};
        if (!outcome) {
            // A cancelled attempt takes a moment to wind down; the run must wait for it.
            std::this_thread::sleep_for(5ms);
            throw Transient("cancelled");
        }
        return outcome();
    }

    void settle(int index, std::function<int()> outcome) {
        std::lock_guard lock(mutex_);
        attempts_[index].outcome = std::move(outcome);
        changed_.notify_all();
    }
    void succeed(int index, int value) {
        settle(index, [value] { return value; });
    }
    template <class Error>
    void fail(int index) {
        settle(index, [index]() -> int { throw Error("attempt " + std::to_string(index)); });
    }

    void waitForCall(int index) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return attempts_[index].called; });
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(attempts_.begin(), attempts_.end(),
                                              [](auto& a) { return a.second.called; }));
    }
    Attempt operator[](int index) {
        std::lock_guard lock(mutex_);
        return attempts_[index];
    }

private:
    VirtualSleeper& clock_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::map<int, Attempt> attempts_;
};

bool isTransient(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Transient&) {
        return true;
    } catch (...) {
        return false;
    }
}

// One run with hedge 5.5 s and deadline 13 s (a 10-second recording) on its own thread.
struct HedgedRun {
    VirtualSleeper clock;
    ScriptedAttempts attempts{clock};
    std::stop_source cancel;
    std::future<int> result;

    std::mutex mutex;
    std::condition_variable classifiedChanged;
    int classified = 0;  // failures the loop has judged so far

    explicit HedgedRun(double hedge = 5.5, double deadline = 13.0) {
        result = std::async(std::launch::async, [this, hedge, deadline] {
            return HedgedRequest::run<int>(
                hedge, deadline,
                [this](const std::exception_ptr& error) {
                    std::lock_guard lock(mutex);
                    ++classified;
                    classifiedChanged.notify_all();
                    return isTransient(error);
                },
                [this](int index, std::stop_token stop) { return attempts(index, stop); }, clock,
                cancel.get_token());
        });
        attempts.waitForCall(0);
        clock.waitForSleeps(1);  // the timers are running from time 0
    }
    void advanceTo(std::chrono::nanoseconds t) { clock.advanceTo(t); }
    void waitUntilClassified(int n) {
        std::unique_lock lock(mutex);
        classifiedChanged.wait(lock, [&] { return classified >= n; });
    }
};

std::string errorOf(std::future<int>& result) {
    try {
        result.get();
    } catch (const DeadlineExceeded&) {
        return "deadline";
    } catch (const RequestCancelled&) {
        return "cancelled";
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

TEST(HedgedRequest, FormulasGrowWithTheRecording) {
    EXPECT_DOUBLE_EQ(HedgedRequest::hedgeDelay(30), 7.5);
    EXPECT_DOUBLE_EQ(HedgedRequest::deadline(30), 19.0);
}

TEST(HedgedRequest, OneTimerSleepsTillTheHedgeThenTillTheDeadlineInWholeNanoseconds) {
    HedgedRun run(5.5, 13.0000000019);
    run.advanceTo(5500ms);
    run.attempts.waitForCall(1);
    EXPECT_EQ(run.attempts[1].calledAt, 5500ms);
    run.clock.waitForSleeps(2);
    run.attempts.succeed(1, 1);
    EXPECT_EQ(run.result.get(), 1);
    EXPECT_TRUE(run.attempts[0].stopped);
    EXPECT_TRUE(run.attempts[0].ended);  // the run waited for the cancelled attempt
    EXPECT_EQ(run.clock.requested(),
              (std::vector<std::chrono::nanoseconds>{5'500'000'000ns, 13'000'000'001ns}));
}

TEST(HedgedRequest, FirstSuccessBeforeTheHedgeEndsEverything) {
    HedgedRun run;
    run.advanceTo(2s);
    run.attempts.succeed(0, 7);
    EXPECT_EQ(run.result.get(), 7);
    EXPECT_EQ(run.attempts.calls(), 1);
    run.clock.waitUntilNoneAsleep();  // returns at once: the timer was stopped and ended
}

TEST(HedgedRequest, TheErrorOfTheAttemptThatFailedLastIsThrownBeforeTheDeadline) {
    for (int last : {0, 1}) {
        HedgedRun run;
        run.advanceTo(5500ms);
        run.attempts.waitForCall(1);
        run.attempts.fail<Transient>(1 - last);
        run.waitUntilClassified(1);
        run.attempts.fail<Transient>(last);
        EXPECT_EQ(errorOf(run.result), "attempt " + std::to_string(last));
    }
}

TEST(HedgedRequest, FinalErrorIsThrownAtOnceAndStopsOrPreventsTheOtherAttempt) {
    for (const bool afterHedge : {false, true}) {
        SCOPED_TRACE(afterHedge);
        HedgedRun run;
        if (afterHedge) {
            run.advanceTo(5500ms);
            run.attempts.waitForCall(1);
        }
        run.attempts.fail<Final>(0);
        EXPECT_EQ(errorOf(run.result), "attempt 0");
        EXPECT_EQ(run.attempts.calls(), afterHedge ? 2 : 1);
        EXPECT_EQ(run.attempts[1].ended, afterHedge);
    }
}

TEST(HedgedRequest, DeadlineWinsOverARecordedTransientError) {
    HedgedRun run;
    run.attempts.fail<Transient>(0);
    run.attempts.waitForCall(1);  // the second attempt now hangs
    run.advanceTo(13s);
    EXPECT_EQ(errorOf(run.result), "deadline");
    EXPECT_TRUE(run.attempts[1].stopped);
    EXPECT_TRUE(run.attempts[1].ended);
}

TEST(HedgedRequest, RejectsDelaysThatAreNegativeOrNotFinite) {
    VirtualSleeper clock;
    std::atomic<int> calls = 0;
    auto attempt = [&](int, std::stop_token) { return ++calls; };
    for (auto [hedge, deadline] :
         {std::pair{-1.0, 10.0}, std::pair{1.0, -0.5}, std::pair{std::nan(""), 10.0},
          std::pair{1.0, std::numeric_limits<double>::infinity()}}) {
        EXPECT_THROW(HedgedRequest::run<int>(hedge, deadline, isTransient, attempt, clock),
                     std::invalid_argument);
    }
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace sayloft
