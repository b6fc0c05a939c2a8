#include "core/storage/KeychainStore.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <sys/stat.h>

#include "core/net/BearerToken.h"
#include "core/storage/FileIo.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

constexpr mode_t ownerOnly = 0600;

bool removeIfPresent(const std::filesystem::path& file) {
    return std::remove(file.c_str()) == 0 || errno == ENOENT;
}

bool isPresent(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

bool readableByOthers(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 077) != 0;
}

}  // namespace

KeychainStore::KeychainStore(std::filesystem::path dataHome, Access access, Notice notice)
    : dataHome_(std::move(dataHome)), access_(access), notice_(std::move(notice)) {
}

std::filesystem::path KeychainStore::tokenFile() const {
    return dataHome_ / "Sayloft" / "device_token";
}

std::filesystem::path KeychainStore::earlierTokenFile() const {
    return dataHome_ / "Wordcast" / "device_token";
}

bool KeychainStore::saveToken(const std::string& token) const {
    const auto file = tokenFile();
    return FileIo::makeFolders(file.parent_path()) &&
           FileIo::replaceAtomically(file, token, ownerOnly);
}

KeychainStore::Lookup KeychainStore::lookUp() const {
    Lookup found;
    found.file = tokenFile();
    if (!isPresent(found.file) && isPresent(earlierTokenFile())) {
        if (access_ == Access::readOnly) {
            found.file = earlierTokenFile();
        } else if (const auto earlier =
                       FileIo::readAtMost(earlierTokenFile(), BearerToken::maxBytes)) {
            // The carried-over copy is written like a saved token: private from the start,
            // whatever the permissions of the earlier file. Failures only mean the copy is tried
            // again later.
            FileIo::makeFolders(found.file.parent_path());
            FileIo::replaceAtomically(found.file, *earlier, ownerOnly);
        }
    }
    found.readableByOthers = readableByOthers(found.file);
    if (found.readableByOthers && access_ == Access::readWrite) {
        const bool tightened = ::chmod(found.file.c_str(), ownerOnly) == 0;
        if (notice_ && !noticed_.exchange(true)) {
            notice_(tightened ? "the token file " + found.file.string() +
                                    " was readable by others; it is now private (mode 0600)"
                              : "the token file " + found.file.string() +
                                    " is readable by others and could not be made private: "
                                    "run chmod 600 on it");
        }
    }
    const auto bytes = FileIo::readAtMost(found.file, BearerToken::maxBytes);
    if (!bytes) {
        return found;
    }
    found.state = TokenState::malformed;
    if (bytes->size() > BearerToken::maxBytes || !UnicodeText::isValidUtf8(*bytes)) {
        return found;
    }
    std::string token = UnicodeText::trim(*bytes);
    if (BearerToken::isValid(token)) {
        found.state = TokenState::valid;
        found.token = std::move(token);
    }
    return found;
}

std::optional<std::string> KeychainStore::loadToken() const {
    Lookup found = lookUp();
    if (found.state != TokenState::valid) {
        return std::nullopt;
    }
    return std::move(found.token);
}

bool KeychainStore::deleteToken() const {
    const bool earlierGone = removeIfPresent(earlierTokenFile());
    return removeIfPresent(tokenFile()) && earlierGone;
}

}  // namespace sayloft
