#pragma once

#include "platform/KeyboardEvents.h"

namespace sayloft {

// The keyboard where the session offers no way to synthesise keys: every stroke is dropped.
// The start-up log and `sayloft-cli doctor` say why and what to do.
class NoKeyboardEvents final : public KeyboardEvents {
public:
    void post(const KeyStroke&) override {}
};

}  // namespace sayloft
