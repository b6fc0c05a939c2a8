#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "fakes/Script.h"
#include "platform/Alerts.h"

namespace sayloft::test {

// Records every alert and answers each from a script, in order, as a user would: by the index of
// the button chosen. With the script empty it chooses the first button. onShown runs while an
// alert is "open", before it is answered, so a test can look at the world at that moment.
class FakeAlerts final : public Alerts {
public:
    int activations = 0;
    std::vector<Alert> shown;
    std::function<void(const Alert&)> onShown;

    void answer(std::size_t button) { script_.push({button}); }

    void activateApp() override { ++activations; }

    std::size_t runModal(const Alert& alert) override {
        shown.push_back(alert);
        if (onShown) {
            onShown(alert);
        }
        return script_.next(0);
    }

    std::vector<std::string> messages() const {
        std::vector<std::string> result;
        for (const Alert& alert : shown) {
            result.push_back(alert.message);
        }
        return result;
    }

private:
    Script<std::size_t> script_;
};

}  // namespace sayloft::test
