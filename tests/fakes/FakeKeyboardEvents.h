#pragma once

#include <functional>
#include <vector>

#include "platform/KeyboardEvents.h"

namespace sayloft::test {

// Records every posted key event in order. onPost, when set, sees each one as it is posted (to
// check what the clipboard held at that moment, for instance).
class FakeKeyboardEvents final : public KeyboardEvents {
public:
    std::vector<KeyStroke> strokes;
    std::function<void(const KeyStroke&)> onPost;

    void post(const KeyStroke& stroke) override {
        strokes.push_back(stroke);
        if (onPost) {
            onPost(stroke);
        }
    }
};

}  // namespace sayloft::test
