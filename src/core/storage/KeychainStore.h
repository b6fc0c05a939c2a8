#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace sayloft {

// Keeps the service token between runs in a private file, <data home>/Sayloft/device_token,
// readable and writable by the owner only (0600 from the moment it exists). A token stored by an
// earlier layout, <data home>/Wordcast/device_token, is carried over on the first load. Every
// call reads or writes the file anew; nothing throws.
//
// The file is read with a size cap (BearerToken::maxBytes) and its content, trimmed of outer
// white space, must be a bearer token (BearerToken::isValid); anything else counts as no token,
// so that a damaged file leads to a new registration rather than to a request that cannot work.
//
// Read-only access (sayloft-cli doctor) reads the same files and changes none: no carry-over of
// the earlier layout, no permission change.
class KeychainStore {
public:
    enum class Access { readWrite, readOnly };

    enum class TokenState {
        absent,     // no token file (or it cannot be read)
        malformed,  // a file that holds no bearer token: too large, not one token, empty
        valid,
    };

    // What the store finds.
    struct Lookup {
        TokenState state = TokenState::absent;
        std::string token;           // when valid
        std::filesystem::path file;  // the file that was read: the earlier one when only it exists
        bool readableByOthers = false;  // as found, before a read-write load made it private
    };

    // Receives one line for the user when a read-write load makes a token file private.
    using Notice = std::function<void(const std::string&)>;

    // dataHome is $XDG_DATA_HOME (see XdgDirs); tests pass a temporary folder.
    explicit KeychainStore(std::filesystem::path dataHome, Access access = Access::readWrite,
                           Notice notice = {});

    // Writes the token's bytes atomically; true when written with mode 0600.
    bool saveToken(const std::string& token) const;

    // The stored token trimmed of outer white space; nullopt unless it is valid.
    std::optional<std::string> loadToken() const;

    // The token file's state. A read-write store carries the earlier layout's token over, and
    // makes a token file that others may read private (0600), saying so once through the notice.
    Lookup lookUp() const;

    // Forgets the token, including the earlier layout's copy, so that the next load finds none.
    // True when no token file remains; never throws.
    bool deleteToken() const;

    std::filesystem::path tokenFile() const;
    std::filesystem::path earlierTokenFile() const;

private:
    std::filesystem::path dataHome_;
    Access access_;
    Notice notice_;
    mutable std::atomic<bool> noticed_{false};
};

}  // namespace sayloft
