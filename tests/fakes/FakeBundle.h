#pragma once

#include <string>

#include "platform/Bundle.h"

namespace sayloft::test {

class FakeBundle final : public Bundle {
public:
    std::optional<std::string> version = "1.2.3";

    std::optional<std::string> shortVersion() const override { return version; }
    std::optional<std::filesystem::path> resource(const std::string&) const override {
        return std::nullopt;
    }
};

}  // namespace sayloft::test
