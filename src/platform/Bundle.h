#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sayloft {

// What the installed application knows about itself. Any thread.
class Bundle {
public:
    virtual ~Bundle() = default;

    // The short version text of this build ("0.1.0"); nullopt when the build embeds none.
    virtual std::optional<std::string> shortVersion() const = 0;

    // The path of a shipped resource file (under share/sayloft); nullopt when it is not there.
    virtual std::optional<std::filesystem::path> resource(const std::string& name) const = 0;
};

}  // namespace sayloft
