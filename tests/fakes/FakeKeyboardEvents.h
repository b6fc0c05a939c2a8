#pragma once

#include <functional>
#include <vector>

#include "platform/KeyboardEvents.h"
#include "platform/ModifierEvent.h"

namespace sayloft::test {

// Records every posted key event in order. onPost, when set, sees each one as it is posted (to
// check what the clipboard held at that moment, for instance).
class FakeKeyboardEvents final : public KeyboardEvents {
public:
    std::vector<KeyStroke> strokes;
    std::uint64_t pasteFlags = ModifierFlag::control;
    std::function<void(const KeyStroke&)> onPost;

    void post(const KeyStroke& stroke) override {
        strokes.push_back(stroke);
        if (onPost) {
            onPost(stroke);
        }
    }
    std::uint64_t pasteModifiers() const override { return pasteFlags; }
};

}  // namespace sayloft::test
