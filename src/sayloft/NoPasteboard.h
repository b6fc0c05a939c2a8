#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

namespace sayloft {

// The clipboard where the session offers none Sayloft can set without the focus: the text is
// dropped. The start-up log and `sayloft-cli doctor` say why and what to do.
class NoPasteboard final : public Pasteboard {
public:
    void setText(std::string_view) override {}
};

}  // namespace sayloft
