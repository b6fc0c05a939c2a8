#include "core/hotkey/HotkeyCookie.h"

#include <array>
#include <cerrno>

#include <sys/random.h>
#include <sys/stat.h>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

constexpr std::size_t cookieBytes = 32;

bool isCookie(std::string_view text) {
    return text.size() == 2 * cookieBytes &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

std::filesystem::path HotkeyCookie::location(const std::filesystem::path& runtimeDir) {
    if (runtimeDir.empty()) {
        return {};
    }
    return runtimeDir / "sayloft" / "hotkey-cookie";
}

std::optional<std::string> HotkeyCookie::create(const std::filesystem::path& path) {
    if (path.empty() || !FileIo::makeFolders(path.parent_path(), true)) {
        return std::nullopt;
    }
    struct stat folder {};
    if (::stat(path.parent_path().c_str(), &folder) != 0 || (folder.st_mode & 077) != 0) {
        return std::nullopt;  // an existing folder others may enter: the cookie would leak
    }
    std::array<unsigned char, cookieBytes> random{};
    for (std::size_t filled = 0; filled < random.size();) {
        const ssize_t got = ::getrandom(random.data() + filled, random.size() - filled, 0);
        if (got < 0 && errno != EINTR) {
            return std::nullopt;
        }
        filled += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string cookie;
    for (const unsigned char byte : random) {
        cookie += digits[byte >> 4];
        cookie += digits[byte & 0xf];
    }
    if (!FileIo::replaceAtomically(path, cookie, 0600)) {
        return std::nullopt;
    }
    return cookie;
}

std::optional<std::string> HotkeyCookie::read(const std::filesystem::path& path) {
    auto text = FileIo::read(path);
    if (!text || !isCookie(*text)) {
        return std::nullopt;
    }
    return text;
}

bool HotkeyCookie::matches(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size() || expected.empty()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    }
    return difference == 0;
}

}  // namespace sayloft
