#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Pasteboard.h"

namespace sayloft::test {

class FakePasteboard final : public Pasteboard {
public:
    std::optional<std::string> text;  // nullopt: never set by the application
    std::vector<std::string> history;
    bool settable = true;  // false: a session without a clipboard this program can set

    void setText(std::string_view utf8) override {
        text = std::string(utf8);
        history.push_back(*text);
    }
    bool canSetText() const override { return settable; }
};

}  // namespace sayloft::test
