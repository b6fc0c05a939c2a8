#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/UpdateWindow.h"

namespace sayloft::test {

// Records the pages shown; the test presses buttons by title or closes the window.
class FakeUpdateWindow final : public UpdateWindow {
public:
    std::vector<UpdateWindowPage> pages;
    bool open = false;

    void show(const UpdateWindowPage& page, Chosen chosen) override {
        pages.push_back(page);
        chosen_ = std::move(chosen);
        open = true;
    }
    void close() override { open = false; }

    const UpdateWindowPage& current() const { return pages.back(); }

    // Presses the current page's button with this title; false when it has none.
    bool press(const std::string& title) {
        const auto& buttons = current().buttons;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            if (buttons[i] == title) {
                chosen_(i);
                return true;
            }
        }
        return false;
    }
    void closeByUser() {
        open = false;
        chosen_(current().buttons.size());
    }

private:
    Chosen chosen_;
};

}  // namespace sayloft::test
