#include "platform/linux/qt/InstalledBundle.h"

#include <system_error>

#include "core/config/Config.h"

namespace sayloft {

InstalledBundle::InstalledBundle(std::optional<std::string> version,
                                 std::vector<std::filesystem::path> folders)
    : version_(std::move(version)), folders_(std::move(folders)) {
}

std::vector<std::filesystem::path> InstalledBundle::resourceFolders(
    const std::filesystem::path& executableDir) {
    return {executableDir / ".." / "share" / "sayloft", executableDir};
}

InstalledBundle InstalledBundle::current() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    std::vector<std::filesystem::path> folders;
    if (!error) {
        folders = resourceFolders(exe.parent_path());
    }
    // Config reads "dev" when the build embeds no version: that is no version to show.
    const std::string& version = Config::appVersion();
    return InstalledBundle(version == "dev" ? std::nullopt : std::optional<std::string>(version),
                           std::move(folders));
}

std::optional<std::string> InstalledBundle::shortVersion() const {
    return version_;
}

std::optional<std::filesystem::path> InstalledBundle::resource(const std::string& name) const {
    const std::filesystem::path relative(name);
    if (name.empty() || relative.is_absolute()) {
        return std::nullopt;
    }
    for (const auto& part : relative) {
        if (part == "..") {
            return std::nullopt;
        }
    }
    for (const auto& folder : folders_) {
        std::error_code error;
        const auto candidate = folder / relative;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.lexically_normal();
        }
    }
    return std::nullopt;
}

}  // namespace sayloft
