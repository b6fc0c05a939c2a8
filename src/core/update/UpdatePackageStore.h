#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sayloft {

// The private folder that verified update packages are written to before they are handed to the
// desktop's installer ($XDG_CACHE_HOME/Sayloft/updates). The folder is ours alone (0700, owned
// by this user, not a symbolic link); each package gets a name we make from its validated
// version, never one from the feed, and is created afresh (O_EXCL, 0600).
class UpdatePackageStore {
public:
    explicit UpdatePackageStore(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    // "sayloft_<version>_<architecture>.deb" in the folder. version must be valid
    // (UpdateVersion).
    std::filesystem::path pathFor(std::string_view version) const;

    // Writes bytes as the package of this version, replacing an earlier download of it, and
    // returns its path. Throws UpdateError (storeFailed) and leaves no file behind when the folder
    // cannot be made private or the file cannot be written whole.
    std::filesystem::path store(std::string_view version, std::string_view bytes) const;

private:
    void preparePrivateFolder() const;

    std::filesystem::path folder_;
};

}  // namespace sayloft
