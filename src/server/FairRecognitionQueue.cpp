#include "server/FairRecognitionQueue.h"

#include <algorithm>
#include <cmath>

namespace sayloft {
namespace {

double secondsOf(std::size_t samples) {
    return static_cast<double>(samples) / FairRecognitionQueue::samplesPerSecond;
}

}  // namespace

FairRecognitionQueue::FairRecognitionQueue(SpeechRecognizer& recognizer, Limits limits, Clock clock)
    : recognizer_(recognizer), limits_(limits), clock_(std::move(clock)) {
    limits_.workers = std::max<std::size_t>(1, limits_.workers);
    limits_.perOwnerInProgress = std::max<std::size_t>(1, limits_.perOwnerInProgress);
}

SpeechRecognizer::Result FairRecognitionQueue::recognize(const std::string& owner,
                                                         std::span<const std::int16_t> samples) {
    std::unique_lock lock(mutex_);
    const auto arrived = clock_();
    expireOverdue(arrived);
    auto [entry, fresh] = owners_.try_emplace(owner);
    if (fresh) {
        entry->second.clock = virtualTime_;  // no credit saved up while idle
    }
    Waiter self;
    self.owner = &entry->second;
    self.samples = samples.size();
    self.arrival = arrivals_++;
    self.deadline = arrived + limits_.queueTimeout;
    entry->second.waiting.push_back(&self);
    byArrival_.emplace(self.arrival, &self);
    queuedSamples_ += self.samples;
    placeInTurn(entry->second);
    startWhatFits();

    if (self.state == State::waiting && secondsOf(queuedSamples_) > limits_.maxQueuedSeconds) {
        withdraw(self);
        auto refused = busy(secondsOf(queuedSamples_ + self.samples) - limits_.maxQueuedSeconds);
        forgetIfIdle(owner);
        return refused;
    }
    while (self.state == State::waiting) {
        const auto now = clock_();
        if (now >= self.deadline) {
            withdraw(self);
            self.state = State::expired;
            break;
        }
        self.wake.wait_for(lock, self.deadline - now);
    }
    if (self.state == State::expired) {
        forgetIfIdle(owner);
        return busy(secondsOf(queuedSamples_));
    }

    // Admitted: the owner stays known while this runs, and a worker is reserved for it.
    lock.unlock();
    const auto began = clock_();
    SpeechRecognizer::Result result;
    try {
        result = recognizer_.recognize(samples);
    } catch (...) {
        lock.lock();
        finish(owner, self.samples, clock_() - began);
        throw;
    }
    const auto took = clock_() - began;
    lock.lock();
    finish(owner, self.samples, took);
    return result;
}

// Its owner is still known: an owner with a waiting request is never forgotten.
void FairRecognitionQueue::withdraw(Waiter& waiter) {
    auto& waiting = waiter.owner->waiting;
    const auto found = std::find(waiting.begin(), waiting.end(), &waiter);  // mostly the front
    if (found != waiting.end()) {
        waiting.erase(found);
        byArrival_.erase(waiter.arrival);
        queuedSamples_ -= waiter.samples;
        placeInTurn(*waiter.owner);
    }
}

// Called whenever an owner's clock, running count or oldest waiting request changes.
void FairRecognitionQueue::placeInTurn(Owner& owner) {
    if (owner.turn) {
        turns_.erase(*owner.turn);
        owner.turn.reset();
    }
    if (!owner.waiting.empty() && owner.running < limits_.perOwnerInProgress) {
        owner.turn = Turn{owner.clock, owner.waiting.front()->arrival, &owner};
        turns_.insert(*owner.turn);
    }
}

void FairRecognitionQueue::expireOverdue(std::chrono::steady_clock::time_point now) {
    while (!byArrival_.empty() && byArrival_.begin()->second->deadline <= now) {
        Waiter& overdue = *byArrival_.begin()->second;
        withdraw(overdue);
        overdue.state = State::expired;  // its thread forgets the owner if it is idle
        overdue.wake.notify_one();
    }
}

void FairRecognitionQueue::startWhatFits() {
    while (running_ < limits_.workers && !turns_.empty()) {
        Owner& next = *std::get<Owner*>(*turns_.begin());
        Waiter* started = next.waiting.front();
        virtualTime_ = std::max(virtualTime_, next.clock);
        next.clock += secondsOf(started->samples);
        ++next.running;
        ++running_;
        withdraw(*started);
        started->state = State::admitted;
        started->wake.notify_one();
    }
}

void FairRecognitionQueue::forgetIfIdle(const std::string& owner) {
    const auto found = owners_.find(owner);
    if (found != owners_.end() && found->second.waiting.empty() && found->second.running == 0) {
        owners_.erase(found);
    }
}

void FairRecognitionQueue::finish(const std::string& owner, std::size_t samples,
                                  std::chrono::steady_clock::duration took) {
    Owner& mine = owners_.at(owner);
    --mine.running;
    --running_;
    placeInTurn(mine);
    if (samples > 0) {
        // A moving average over the last few recognitions: speed changes with the load.
        const double sample = std::chrono::duration<double>(took).count() / secondsOf(samples);
        secondsPerAudioSecond_ =
            speedMeasured_ ? 0.75 * secondsPerAudioSecond_ + 0.25 * sample : sample;
        speedMeasured_ = true;
    }
    forgetIfIdle(owner);
    expireOverdue(clock_());
    startWhatFits();
}

SpeechRecognizer::Result FairRecognitionQueue::busy(double excessSeconds) const {
    // The queue drains at `workers` times the recent speed of one recognition.
    const double wait = std::max(0.0, excessSeconds) * secondsPerAudioSecond_ /
                        static_cast<double>(limits_.workers);
    SpeechRecognizer::Result answer{false, {}, 503, busyError};
    answer.retryAfterSeconds = static_cast<int>(std::clamp(std::ceil(wait), 1.0, 3600.0));
    return answer;
}

FairRecognitionQueue::Stats FairRecognitionQueue::stats() const {
    std::lock_guard lock(mutex_);
    return {secondsOf(queuedSamples_), byArrival_.size(), running_, owners_.size()};
}

}  // namespace sayloft
