#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bundle.h"

namespace sayloft {

// What the installed program knows about itself: the version the build embeds and the files
// shipped under share/sayloft. Resources are looked for, first match wins, in
// <executable dir>/../share/sayloft (an installed program) and in the executable's own folder
// (the build tree, where the build copies them next to the program). Any thread.
class InstalledBundle final : public Bundle {
public:
    // version: the build's version text, nullopt when it embeds none.
    InstalledBundle(std::optional<std::string> version, std::vector<std::filesystem::path> folders);

    // The bundle of the running program (the folders around /proc/self/exe).
    static InstalledBundle current();
    static std::vector<std::filesystem::path> resourceFolders(
        const std::filesystem::path& executableDir);

    std::optional<std::string> shortVersion() const override;
    // name is a relative path inside the resource folder; an absolute name or one that climbs out
    // with ".." is never found.
    std::optional<std::filesystem::path> resource(const std::string& name) const override;

private:
    std::optional<std::string> version_;
    std::vector<std::filesystem::path> folders_;
};

}  // namespace sayloft
