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

    void setText(std::string_view utf8) override {
        text = std::string(utf8);
        history.push_back(*text);
    }
};

}  // namespace sayloft::test
