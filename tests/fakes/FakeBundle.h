#pragma once

#include <map>
#include <string>

#include "platform/Bundle.h"

namespace sayloft::test {

class FakeBundle final : public Bundle {
public:
    std::optional<std::string> version = "1.2.3";
    std::map<std::string, std::filesystem::path> resources;

    std::optional<std::string> shortVersion() const override { return version; }
    std::optional<std::filesystem::path> resource(const std::string& name) const override {
        const auto found = resources.find(name);
        if (found == resources.end()) {
            return std::nullopt;
        }
        return found->second;
    }
};

}  // namespace sayloft::test
