#pragma once

#include <vector>

#include "platform/SessionEvents.h"

namespace sayloft::test {

// wake() reports a wake (or screen wake, session activation, unlock) to every observer.
class FakeSessionEvents final : public SessionEvents {
public:
    void observe(Handler handler) override { handlers_.push_back(std::move(handler)); }

    std::size_t observers() const { return handlers_.size(); }

    void wake() {
        for (const auto& handler : handlers_) {
            handler();
        }
    }

private:
    std::vector<Handler> handlers_;
};

}  // namespace sayloft::test
