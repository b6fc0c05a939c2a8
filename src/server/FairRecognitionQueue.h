#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>

#include "server/SpeechRecognizer.h"

namespace sayloft {

// Decides which waiting recognition runs next and whether a new one may wait at all, so that
// one owner (a token's device id) sending long recordings cannot starve the others. Thread-safe;
// each HTTP thread calls recognize(), which blocks until its turn, then runs the recogniser on
// that same thread.
//
// Order: start-time fair queueing by audio seconds. Each owner has a virtual clock, the audio
// seconds it was served; the waiting request of the owner with the least clock starts next
// (FIFO within an owner), and starting it advances that clock by its seconds. An owner that
// becomes active starts at the queue's virtual time (the start tag of the latest started
// request), so idling saves no credit, and an owner's backlog delays a newcomer by at most the
// utterance already in progress. An owner never has more than perOwnerInProgress recognitions
// running (the client races two attempts per dictation); its further requests wait.
//
// Admission: a request that cannot start at once waits, unless the audio seconds waiting would
// then exceed maxQueuedSeconds: it is answered 503 at once with a retry-after estimate from the
// recent recognition speed (so a recording longer than the bound runs only if it can start at
// once). A request still waiting after queueTimeout is answered 503 too.
//
// Memory: an owner's state exists only while it has requests waiting or running. Forgetting an
// idle owner forgives at most its last utterance (its clock never runs further ahead of the
// virtual time than that).
//
// With PocketSphinxRecognizer, give workers == its decoder count: at most that many
// recognitions run at once, so a started one always finds a free decoder and the pool's own
// wait never happens; its queueTimeout stays only as a backstop.
class FairRecognitionQueue {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Limits {
        std::size_t workers = 1;  // recognitions running at once
        std::size_t perOwnerInProgress = 2;
        double maxQueuedSeconds = 600.0;  // audio waiting in the whole queue
        std::chrono::milliseconds queueTimeout{30000};
    };

    static constexpr double samplesPerSecond = 16000.0;
    static constexpr const char* busyError = "the service is busy";

    // The clock measures waits and recognition speed; waits that outlast the deadline are also
    // noticed at the next arrival or completion, so a test can step a manual clock.
    FairRecognitionQueue(SpeechRecognizer& recognizer, Limits limits,
                         Clock clock = std::chrono::steady_clock::now);

    // Waits for this request's turn, runs it and answers its result; or a 503 with
    // retryAfterSeconds (at least 1) when the queue is full or the wait timed out.
    SpeechRecognizer::Result recognize(const std::string& owner,
                                       std::span<const std::int16_t> samples);

    struct Stats {
        double queuedSeconds = 0;  // audio waiting, not running
        std::size_t waiting = 0;
        std::size_t running = 0;
        std::size_t owners = 0;  // with requests waiting or running
    };
    Stats stats() const;

private:
    enum class State { waiting, admitted, expired };
    struct Owner;
    struct Waiter {
        Owner* owner = nullptr;
        std::size_t samples = 0;
        std::uint64_t arrival = 0;
        std::chrono::steady_clock::time_point deadline;
        State state = State::waiting;
        std::condition_variable wake;
    };
    // An owner that may start a request now, in the order they would: least virtual clock,
    // then oldest waiting request.
    using Turn = std::tuple<double, std::uint64_t, Owner*>;
    struct Owner {
        double clock = 0;  // virtual start of this owner's next request
        std::size_t running = 0;
        std::deque<Waiter*> waiting;
        std::optional<Turn> turn;  // its place in turns_, while it has one
    };
    using Owners = std::unordered_map<std::string, Owner>;

    void withdraw(Waiter& waiter);
    void placeInTurn(Owner& owner);
    void expireOverdue(std::chrono::steady_clock::time_point now);
    void startWhatFits();
    void forgetIfIdle(const std::string& owner);
    void finish(const std::string& owner, std::size_t samples,
                std::chrono::steady_clock::duration took);
    SpeechRecognizer::Result busy(double excessSeconds) const;

    SpeechRecognizer& recognizer_;
    Limits limits_;
    Clock clock_;
    mutable std::mutex mutex_;
    Owners owners_;
    double virtualTime_ = 0;
    std::size_t queuedSamples_ = 0;  // whole samples, so that sums never drift
    // Every waiting request, oldest first: deadlines are the arrival plus one timeout, so the
    // first here is the first to expire.
    std::map<std::uint64_t, Waiter*> byArrival_;
    std::set<Turn> turns_;
    std::size_t running_ = 0;
    std::uint64_t arrivals_ = 0;
    double secondsPerAudioSecond_ = 1.0;  // recent recognition speed of one worker
    bool speedMeasured_ = false;
};

}  // namespace sayloft
