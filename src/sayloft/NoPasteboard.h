#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

namespace sayloft {

// The clipboard where the session offers none Sayloft can set without the focus: the text is
// dropped, and the text inserter types instead of pasting. The start-up log and `sayloft-cli
// doctor` say why and what to do.
class NoPasteboard final : public Pasteboard {
public:
    void setText(std::string_view) override {}
    bool canSetText() const override { return false; }
};

}  // namespace sayloft
