#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VirtualSleeper.h"
#include "core/net/HedgedRequest.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

// The failures the runs are told are transient; all others are final.
struct Transient : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One run on a thread of its own, on virtual time, with attempts the test settles while they
// run: an attempt waits until it is settled or its stop token fires.
struct HedgedRun {
    testing::VirtualSleeper clock;
    std::mutex mutex;
    std::condition_variable_any changed;
    std::function<int()> outcome[2];
    bool called[2] = {}, stopped[2] = {}, ended[2] = {};
    nanoseconds calledAt[2] = {};
    int judged = 0;  // failures the run has classified so far
    std::stop_source cancel;
    std::future<int> result;

    HedgedRun(double hedge, double deadline) {
        result = std::async(std::launch::async, [=, this] {
            return HedgedRequest::run<int>(
                hedge, deadline, [this](const std::exception_ptr& e) { return judge(e); },
                [this](int i, std::stop_token stop) { return attempt(i, stop); }, clock,
                cancel.get_token());
        });
        waitFor([this] { return called[0]; });
        clock.waitForSleeps(1);  // the timers run from time 0
    }
    bool judge(const std::exception_ptr& error) {
        std::lock_guard lock(mutex);
        ++judged;
        changed.notify_all();
        try {
            std::rethrow_exception(error);
        } catch (const Transient&) {
            return true;
        } catch (...) {
            return false;
        }
    }
    int attempt(int i, std::stop_token stop) {
        std::function<int()> settled;
        {
            std::unique_lock lock(mutex);
            called[i] = true;
            calledAt[i] = clock.now();
            changed.notify_all();
            changed.wait(lock, stop, [&] { return bool(outcome[i]); });
            settled = outcome[i];
            stopped[i] = !settled;
        }
        const std::shared_ptr<void> markEnded(nullptr, [this, i](void*) {
            std::lock_guard lock(mutex);
            ended[i] = true;
        });
        if (!settled) {
            std::this_thread::sleep_for(5ms);  // winds down slowly: the run must wait for it
            throw Transient("stopped");
        }
        return settled();
    }
    void waitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        changed.wait(lock, done);
    }
    void settle(int i, std::function<int()> settled) {
        std::lock_guard lock(mutex);
        outcome[i] = std::move(settled);
        changed.notify_all();
    }
    std::string end() {
        try {
            return std::to_string(result.get());
        } catch (const DeadlineExceeded&) {
            return "deadline";
        } catch (const RequestCancelled&) {
            return "cancelled";
        } catch (const std::exception& error) {
            return error.what();
        }
    }
};

using Step = std::function<void(HedgedRun&)>;
Step advance(nanoseconds t) {
    return [t](HedgedRun& run) { run.clock.advanceTo(t); };
}
// Waits for attempt i, then checks when it began.
Step called(int i, nanoseconds at) {
    return [=](HedgedRun& run) {
        run.waitFor([&run, i] { return run.called[i]; });
        EXPECT_EQ(run.calledAt[i], at);
    };
}
Step judged(int n) {
    return [n](HedgedRun& run) { run.waitFor([&run, n] { return run.judged >= n; }); };
}
Step succeed(int i, int value) {
    return [=](HedgedRun& run) { run.settle(i, [value] { return value; }); };
}
// Attempt i fails: transiently (lapse) or finally (fail).
template <class Error = std::logic_error>
Step fail(int i) {
    return [i](HedgedRun& run) {
        run.settle(i, [i]() -> int { throw Error("attempt " + std::to_string(i)); });
    };
}
const auto lapse = fail<Transient>;

TEST(HedgedRequest, FormulasGrowWithTheRecording) {
    EXPECT_DOUBLE_EQ(HedgedRequest::hedgeDelay(30), 7.5);
    EXPECT_DOUBLE_EQ(HedgedRequest::deadline(30), 19.0);
}

// Every run ends with each attempt it started ended (an unsettled one stopped first) and its
// one timer thread awake; the timer sleeps till the earlier due time, then till the later.
TEST(HedgedRequest, RacesTwoAttemptsUnderOneTimer) {
    struct Row {
        const char* name;
        std::vector<Step> steps;
        std::string expected;
        int calls;
        std::vector<nanoseconds> sleeps;
        double hedge = 5.5, deadline = 13;
    };
    const nanoseconds H = 5500ms, D = 13s;
    const double D1 = 13.0000000019;  // truncated to whole nanoseconds
    const Step hedge = advance(H), hedged = called(1, H);
    const Step cancel = [](HedgedRun& run) { run.cancel.request_stop(); };
    const Row rows[] = {
        {"success before the hedge", {advance(2s), succeed(0, 7)}, "7", 1, {H}},
        {"hedge wins", {hedge, hedged, succeed(1, 1)}, "1", 2, {H, 13'000'000'001ns}, 5.5, D1},
        {"0 fails last", {hedge, hedged, lapse(1), judged(1), lapse(0)}, "attempt 0", 2, {H, D}},
        {"1 fails last", {hedge, hedged, lapse(0), judged(1), lapse(1)}, "attempt 1", 2, {H, D}},
        {"a final error before the hedge", {fail(0)}, "attempt 0", 1, {H}},
        {"a final error stops the hedge", {hedge, hedged, fail(0)}, "attempt 0", 2, {H, D}},
        // a transient failure starts the hedge at once
        {"the deadline wins", {lapse(0), called(1, 0ns), advance(D)}, "deadline", 2, {H, D}},
        {"a tie: the deadline first", {advance(D)}, "deadline", 1, {D, D}, 13, 13},
        {"cancelled", {cancel}, "cancelled", 1, {H}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HedgedRun run(row.hedge, row.deadline);
        for (const Step& step : row.steps) {
            step(run);
        }
        EXPECT_EQ(run.end(), row.expected);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(run.called[i], i < row.calls) << i;
            EXPECT_EQ(run.ended[i], run.called[i]) << i;
            EXPECT_EQ(run.stopped[i], run.called[i] && !run.outcome[i]) << i;
        }
        EXPECT_EQ(run.clock.asleep(), 0);
        EXPECT_EQ(run.clock.requested(), row.sleeps);
    }
}

TEST(HedgedRequest, RejectsDelaysThatAreNegativeOrNotFinite) {
    testing::VirtualSleeper clock;
    int calls = 0;
    auto attempt = [&](int, std::stop_token) { return ++calls; };
    for (auto [hedge, deadline] :
         {std::pair{-1.0, 10.0}, std::pair{1.0, -0.5}, std::pair{std::nan(""), 10.0},
          std::pair{1.0, std::numeric_limits<double>::infinity()}}) {
        EXPECT_THROW(HedgedRequest::run<int>(hedge, deadline, nullptr, attempt, clock),
                     std::invalid_argument);
    }
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace sayloft
