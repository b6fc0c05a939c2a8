#include "core/storage/KeychainStore.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "core/storage/FileIo.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

constexpr mode_t ownerOnly = 0600;

bool removeIfPresent(const std::filesystem::path& file) {
    return std::remove(file.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

KeychainStore::KeychainStore(std::filesystem::path dataHome) : dataHome_(std::move(dataHome)) {
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

std::optional<std::string> KeychainStore::loadToken() const {
    const auto file = tokenFile();
    std::error_code error;
    if (!std::filesystem::exists(file, error) &&
        std::filesystem::exists(earlierTokenFile(), error)) {
        // The carried-over copy is written like a saved token: private from the start, whatever
        // the permissions of the earlier file. Failures only mean the copy is tried again later.
        if (const auto earlier = FileIo::read(earlierTokenFile())) {
            FileIo::makeFolders(file.parent_path());
            FileIo::replaceAtomically(file, *earlier, ownerOnly);
        }
    }
    const auto bytes = FileIo::read(file);
    if (!bytes || !UnicodeText::isValidUtf8(*bytes) || bytes->empty()) {
        return std::nullopt;
    }
    return UnicodeText::trim(*bytes);
}

bool KeychainStore::deleteToken() const {
    const bool earlierGone = removeIfPresent(earlierTokenFile());
    return removeIfPresent(tokenFile()) && earlierGone;
}

}  // namespace sayloft
