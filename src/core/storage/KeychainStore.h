#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sayloft {

// Keeps the service token between runs in a private file, <data home>/Sayloft/device_token,
// readable and writable by the owner only (0600 from the moment it exists). A token stored by an
// earlier layout, <data home>/Wordcast/device_token, is carried over on the first load. Every
// call reads or writes the file anew; nothing throws.
class KeychainStore {
public:
    // dataHome is $XDG_DATA_HOME (see XdgDirs); tests pass a temporary folder.
    explicit KeychainStore(std::filesystem::path dataHome);

    // Writes the token's bytes atomically; true when written with mode 0600.
    bool saveToken(const std::string& token) const;

    // The stored token trimmed of outer white space; nullopt when there is no file, it cannot be
    // read, it is not UTF-8 or it is empty. A file of only white space yields an empty token.
    std::optional<std::string> loadToken() const;

    // Forgets the token, including the earlier layout's copy, so that the next load finds none.
    // True when no token file remains; never throws.
    bool deleteToken() const;

    std::filesystem::path tokenFile() const;
    std::filesystem::path earlierTokenFile() const;

private:
    std::filesystem::path dataHome_;
};

}  // namespace sayloft
