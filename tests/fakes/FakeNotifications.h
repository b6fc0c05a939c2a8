#pragma once

#include <string>
#include <vector>

#include "platform/Notifications.h"

namespace sayloft::test {

class FakeNotifications final : public Notifications {
public:
    struct Posted {
        std::string title;
        std::string body;
        friend bool operator==(const Posted&, const Posted&) = default;
    };

    std::vector<Posted> posted;

    void requestAuthorization() override {}
    void post(const std::string& title, const std::string& body) override {
        posted.push_back({title, body});
    }
};

}  // namespace sayloft::test
