#pragma once

#include <deque>
#include <string>
#include <utility>

#include "platform/LocalService.h"

namespace sayloft::test {

// A local service whose start-ups the test finishes: ensureRunning keeps its callback until the
// test calls finish(ok, reason), as the real one answers later on the main thread.
class FakeLocalService final : public LocalService {
public:
    bool local = false;
    int ensureCalls = 0;

    bool isLocal() const override { return local; }

    void ensureRunning(Done done) override {
        ++ensureCalls;
        waiting_.push_back(std::move(done));
    }

    bool waiting() const { return !waiting_.empty(); }
    void finish(bool ok, const std::string& reason = {}) {
        Done done = std::move(waiting_.front());
        waiting_.pop_front();
        done(ok, reason);
    }

private:
    std::deque<Done> waiting_;
};

}  // namespace sayloft::test
