#include <atomic>
#include <deque>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "server/FairRecognitionQueue.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
constexpr auto patience = 10s;  // bound on every wait for another thread; never reached

// Each recognition blocks until the test releases it; the first sample names the request.
class ScriptedRecognizer : public SpeechRecognizer {
public:
    Result recognize(std::span<const std::int16_t> samples) override {
        std::unique_lock lock(mutex_);
        const int tag = samples.front();
        started_.push_back(tag);
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_.contains(tag); });
        return {true, std::to_string(tag), 0, {}};
    }
    std::string describe() const override { return "scripted"; }

    std::vector<int> awaitStarted(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, patience, [&] { return started_.size() >= count; });
        return started_;
    }
    void release(int tag) {
        std::lock_guard lock(mutex_);
        released_.insert(tag);
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> started_;
    std::set<int> released_;
};

struct FairRecognitionQueueTest : ::testing::Test {
    ScriptedRecognizer recognizer;
    std::atomic<std::int64_t> nowMs{0};
    FairRecognitionQueue::Clock clock = [this] {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(nowMs.load()));
    };
    std::deque<std::vector<std::int16_t>> recordings;  // the spans handed out stay valid

    std::span<const std::int16_t> utterance(int tag, double seconds) {
        auto& samples = recordings.emplace_back(static_cast<std::size_t>(seconds * 16000), 0);
        samples.front() = static_cast<std::int16_t>(tag);
        return samples;
    }
    std::future<SpeechRecognizer::Result> send(FairRecognitionQueue& queue, std::string owner,
                                               int tag, double seconds) {
        const auto samples = utterance(tag, seconds);
        return std::async(std::launch::async,
                          [&queue, owner, samples] { return queue.recognize(owner, samples); });
    }
    // The queue has taken in this many requests that wait (a bounded wait on another thread).
    static void awaitWaiting(const FairRecognitionQueue& queue, std::size_t count) {
        const auto giveUp = std::chrono::steady_clock::now() + patience;
        while (queue.stats().waiting != count && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
        ASSERT_EQ(queue.stats().waiting, count);
    }
    static SpeechRecognizer::Result answer(std::future<SpeechRecognizer::Result>& pending) {
        EXPECT_EQ(pending.wait_for(patience), std::future_status::ready);
        return pending.get();
    }
};

TEST_F(FairRecognitionQueueTest, ABacklogDelaysAnotherOwnerByTheUtteranceInProgressOnly) {
    FairRecognitionQueue queue(recognizer, {.workers = 1}, clock);
    std::vector<std::future<SpeechRecognizer::Result>> pending;
    for (int tag = 1; tag <= 5; ++tag) {
        pending.push_back(send(queue, "heavy", tag, 60));
        ASSERT_EQ(recognizer.awaitStarted(1).size(), 1u);
        awaitWaiting(queue, static_cast<std::size_t>(tag - 1));
    }
    pending.push_back(send(queue, "light", 9, 2));
    awaitWaiting(queue, 5);
    // The light owner's request runs next; the heavy owner's run after it in their own order.
    for (const int tag : {1, 9, 2, 3, 4, 5}) {
        recognizer.release(tag);
    }
    for (auto& each : pending) {
        EXPECT_TRUE(answer(each).ok);
    }
    EXPECT_EQ(recognizer.awaitStarted(6), (std::vector<int>{1, 9, 2, 3, 4, 5}));
    EXPECT_EQ(queue.stats().owners, 0u);
}

TEST_F(FairRecognitionQueueTest, AnOwnerRunsAtMostItsLimitWhileAnotherStillGetsAWorker) {
    FairRecognitionQueue queue(recognizer, {.workers = 3, .perOwnerInProgress = 2}, clock);
    auto first = send(queue, "a", 1, 5);
    auto second = send(queue, "a", 2, 5);
    ASSERT_EQ(recognizer.awaitStarted(2).size(), 2u);
    auto third = send(queue, "a", 3, 5);
    awaitWaiting(queue, 1);
    auto other = send(queue, "b", 7, 5);
    EXPECT_EQ(recognizer.awaitStarted(3).back(), 7);
    EXPECT_EQ(queue.stats().running, 3u);
    EXPECT_EQ(queue.stats().waiting, 1u);
    recognizer.release(1);
    EXPECT_EQ(answer(first).text, "1");
    EXPECT_EQ(recognizer.awaitStarted(4).back(), 3);
    for (const int tag : {2, 3, 7}) {
        recognizer.release(tag);
    }
    EXPECT_EQ(answer(third).text, "3");
    EXPECT_TRUE(answer(second).ok);
    EXPECT_TRUE(answer(other).ok);
}

TEST_F(FairRecognitionQueueTest, RefusesAtOnceWhenTheWaitingAudioWouldExceedTheBound) {
    FairRecognitionQueue queue(recognizer, {.workers = 1, .maxQueuedSeconds = 30}, clock);
    // The first recognition takes 10 s for 20 s of audio: half a second per audio second.
    auto measured = send(queue, "a", 1, 20);
    recognizer.awaitStarted(1);
    nowMs += 10000;
    recognizer.release(1);
    EXPECT_TRUE(answer(measured).ok);

    auto running = send(queue, "a", 2, 10);
    recognizer.awaitStarted(2);
    auto waiting1 = send(queue, "b", 3, 20);
    auto waiting2 = send(queue, "c", 4, 10);
    awaitWaiting(queue, 2);  // 30 s waiting: exactly the bound
    // 10 s too many for one worker at half speed: room again in 5 s.
    const auto tooMuch = queue.recognize("d", utterance(5, 10));
    EXPECT_FALSE(tooMuch.ok);
    EXPECT_EQ(tooMuch.status, 503);
    EXPECT_EQ(tooMuch.error, FairRecognitionQueue::busyError);
    EXPECT_EQ(tooMuch.retryAfterSeconds, 5);
    // A little too much still asks for at least a second.
    EXPECT_EQ(queue.recognize("d", utterance(6, 0.1)).retryAfterSeconds, 1);
    const auto stats = queue.stats();
    EXPECT_DOUBLE_EQ(stats.queuedSeconds, 30.0);
    EXPECT_EQ(stats.owners, 3u);  // the refused owner is not remembered

    for (const int tag : {2, 3, 4}) {
        recognizer.release(tag);
    }
    for (auto* each : {&running, &waiting1, &waiting2}) {
        EXPECT_TRUE(answer(*each).ok);
    }
}

TEST_F(FairRecognitionQueueTest, ARequestWaitingPastTheTimeoutIsRefusedInsteadOfStarted) {
    FairRecognitionQueue queue(recognizer, {.workers = 1, .queueTimeout = 30s}, clock);
    auto running = send(queue, "a", 1, 5);
    recognizer.awaitStarted(1);
    auto late = send(queue, "b", 2, 5);
    awaitWaiting(queue, 1);
    nowMs += 30001;
    recognizer.release(1);  // the worker comes free only after b's deadline
    EXPECT_TRUE(answer(running).ok);
    const auto refused = answer(late);
    EXPECT_EQ(refused.status, 503);
    EXPECT_GE(refused.retryAfterSeconds, 1);
    EXPECT_EQ(recognizer.awaitStarted(1).size(), 1u);
    EXPECT_EQ(queue.stats().owners, 0u);
}

}  // namespace
}  // namespace sayloft
