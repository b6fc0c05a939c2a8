#include <atomic>
#include <deque>
#include <future>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "server/FairRecognitionQueue.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
constexpr auto patience = 10s;  // bound on every wait for another thread; never reached

// Each recognition blocks until the test releases it; the first sample names the request.
struct ScriptedRecognizer : SpeechRecognizer {
    Result recognize(std::span<const std::int16_t> samples) override {
        std::unique_lock lock(mutex);
        const int tag = samples.front();
        started.push_back(tag);
        changed.notify_all();
        changed.wait(lock, [&] { return released.contains(tag) || released.contains(0); });
        return {true, std::to_string(tag), 0, {}};
    }
    std::string describe() const override { return "scripted"; }

    std::vector<int> awaitStarted(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, patience, [&] { return started.size() >= count; });
        return started;
    }
    // tag 0: every recognition, now and later.
    void release(int tag) {
        std::lock_guard lock(mutex);
        released.insert(tag);
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> started;
    std::set<int> released;
};

using Answer = std::future<SpeechRecognizer::Result>;

struct FairRecognitionQueueTest : ::testing::Test {
    ScriptedRecognizer recognizer;
    std::atomic<std::int64_t> nowMs{0};
    std::deque<std::vector<std::int16_t>> recordings;  // the spans handed out stay valid
    std::optional<FairRecognitionQueue> queue;
    std::deque<Answer> answers;  // destroyed first: their threads end once everything is released

    // A failed expectation must leave no thread blocked: every recognition is released, and
    // one more arrival after every deadline turns away whatever still waits.
    void TearDown() override {
        recognizer.release(0);
        if (queue) {
            nowMs += 3600000;
            queue->recognize("tear-down", utterance(0, 1));
        }
    }

    void start(FairRecognitionQueue::Limits limits) {
        queue.emplace(recognizer, limits, [this] {
            return std::chrono::steady_clock::time_point(std::chrono::milliseconds(nowMs.load()));
        });
    }
    std::span<const std::int16_t> utterance(int tag, double seconds) {
        auto& samples = recordings.emplace_back(static_cast<std::size_t>(seconds * 16000), 0);
        samples.front() = static_cast<std::int16_t>(tag);
        return samples;
    }
    Answer& send(std::string owner, int tag, double seconds) {
        return answers.emplace_back(
            std::async(std::launch::async, [this, owner, samples = utterance(tag, seconds)] {
                return queue->recognize(owner, samples);
            }));
    }
    // The queue holds this many waiting requests (a bounded wait on other threads).
    void awaitWaiting(std::size_t count) {
        const auto giveUp = std::chrono::steady_clock::now() + patience;
        while (queue->stats().waiting != count && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
        ASSERT_EQ(queue->stats().waiting, count);
    }
    static SpeechRecognizer::Result answer(Answer& pending) {
        if (pending.wait_for(patience) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return pending.get();
    }
};

TEST_F(FairRecognitionQueueTest, ABacklogDelaysAnotherOwnerByTheUtteranceInProgressOnly) {
    start({.workers = 1});
    for (int tag = 1; tag <= 5; ++tag) {
        send("heavy", tag, 60);
        ASSERT_EQ(recognizer.awaitStarted(1).size(), 1u);
        awaitWaiting(static_cast<std::size_t>(tag - 1));
    }
    send("light", 9, 2);
    awaitWaiting(5);
    // The light owner's request runs next; the heavy owner's run after it in their own order.
    for (const int tag : {1, 9, 2, 3, 4, 5}) {
        recognizer.release(tag);
    }
    for (auto& each : answers) {
        EXPECT_TRUE(answer(each).ok);
    }
    EXPECT_EQ(recognizer.awaitStarted(6), (std::vector<int>{1, 9, 2, 3, 4, 5}));
    EXPECT_EQ(queue->stats().owners, 0u);
}

TEST_F(FairRecognitionQueueTest, AnOwnerRunsAtMostItsLimitWhileAnotherStillGetsAWorker) {
    start({.workers = 3, .perOwnerInProgress = 2});
    auto& first = send("a", 1, 5);
    send("a", 2, 5);
    ASSERT_EQ(recognizer.awaitStarted(2).size(), 2u);
    auto& third = send("a", 3, 5);
    awaitWaiting(1);
    send("b", 7, 5);
    EXPECT_EQ(recognizer.awaitStarted(3).back(), 7);
    EXPECT_EQ(queue->stats().running, 3u);
    EXPECT_EQ(queue->stats().waiting, 1u);
    recognizer.release(1);
    EXPECT_EQ(answer(first).text, "1");
    EXPECT_EQ(recognizer.awaitStarted(4).back(), 3);
    recognizer.release(3);
    EXPECT_EQ(answer(third).text, "3");
}

TEST_F(FairRecognitionQueueTest, RefusesWhenTheWaitingAudioWouldExceedTheBoundOrWaitedTooLong) {
    start({.workers = 1, .maxQueuedSeconds = 30, .queueTimeout = 30s});
    // The first recognition takes 10 s for 20 s of audio: half a second per audio second.
    auto& measured = send("a", 1, 20);
    recognizer.awaitStarted(1);
    nowMs += 10000;
    recognizer.release(1);
    EXPECT_TRUE(answer(measured).ok);

    send("a", 2, 10);
    recognizer.awaitStarted(2);
    auto& waitingB = send("b", 3, 20);
    auto& waitingC = send("c", 4, 10);
    awaitWaiting(2);  // 30 s waiting: exactly the bound
    // 10 s too many for one worker at half speed: room again in 5 s.
    const auto tooMuch = answer(send("d", 5, 10));
    EXPECT_FALSE(tooMuch.ok);
    EXPECT_EQ(tooMuch.status, 503);
    EXPECT_EQ(tooMuch.error, FairRecognitionQueue::busyError);
    EXPECT_EQ(tooMuch.retryAfterSeconds, 5);
    // A little too much still asks for at least a second.
    EXPECT_EQ(answer(send("d", 6, 0.1)).retryAfterSeconds, 1);
    EXPECT_DOUBLE_EQ(queue->stats().queuedSeconds, 30.0);
    EXPECT_EQ(queue->stats().owners, 3u);  // the refused owner is not remembered

    // The worker comes free only after the waiting requests' deadline: they are refused.
    nowMs += 30001;
    recognizer.release(2);
    for (Answer* late : {&waitingB, &waitingC}) {
        const auto refused = answer(*late);
        EXPECT_EQ(refused.status, 503);
        EXPECT_GE(refused.retryAfterSeconds, 1);
    }
    EXPECT_EQ(recognizer.awaitStarted(2).size(), 2u);
    EXPECT_EQ(queue->stats().owners, 0u);
}

}  // namespace
}  // namespace sayloft
