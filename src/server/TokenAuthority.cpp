#include "server/TokenAuthority.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/storage/FileIo.h"
#include "server/Base64Url.h"

namespace sayloft {
namespace {

constexpr std::int64_t allowedClockSkew = 300;
constexpr std::size_t payloadBytes = 16 + 8;
constexpr std::size_t macBytes = 32;

std::string toHex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<TokenAuthority::Secret> fromHex(std::string_view text) {
    TokenAuthority::Secret secret{};
    if (text.size() != secret.size() * 2) {
        return std::nullopt;
    }
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    for (std::size_t i = 0; i < secret.size(); ++i) {
        const int hi = nibble(text[2 * i]);
        const int lo = nibble(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        secret[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return secret;
}

void randomBytes(std::span<std::uint8_t> out) {
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
        throw std::runtime_error("the system's random source failed");
    }
}

std::string newSecretText() {
    TokenAuthority::Secret secret{};
    randomBytes(secret);
    return toHex(secret) + "\n";
}

bool fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return false;
}

}  // namespace

std::string TokenAuthority::Claims::deviceIdHex() const {
    return toHex(deviceId);
}

TokenAuthority::TokenAuthority(const Secret& secret, std::int64_t maxAgeSeconds, UnixClock now)
    : secret_(secret), maxAgeSeconds_(maxAgeSeconds), now_(std::move(now)) {
}

std::string TokenAuthority::issue() const {
    DeviceId id{};
    randomBytes(id);
    return issueFor(id, now_());
}

std::string TokenAuthority::issueFor(const DeviceId& deviceId, std::int64_t issuedAt) const {
    std::array<std::uint8_t, payloadBytes> payload{};
    std::memcpy(payload.data(), deviceId.data(), deviceId.size());
    const auto stamp = static_cast<std::uint64_t>(issuedAt);
    for (int i = 0; i < 8; ++i) {
        payload[16 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(stamp >> (56 - 8 * i));
    }
    const std::string signedText = std::string(prefix) + Base64Url::encode(payload);
    return signedText + "." + mac(signedText);
}

std::string TokenAuthority::mac(std::string_view signedText) const {
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret_.data(), static_cast<int>(secret_.size()),
         reinterpret_cast<const unsigned char*>(signedText.data()), signedText.size(),
         digest.data(), &length);
    return Base64Url::encode(std::span(digest.data(), length));
}

std::optional<TokenAuthority::Claims> TokenAuthority::verify(std::string_view token) const {
    if (!token.starts_with(prefix)) {
        return std::nullopt;
    }
    const auto dot = token.find('.', prefix.size());
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view signedText = token.substr(0, dot);
    const std::string_view given = token.substr(dot + 1);
    const std::string expected = mac(signedText);
    if (given.size() != expected.size() ||
        CRYPTO_memcmp(given.data(), expected.data(), expected.size()) != 0) {
        return std::nullopt;
    }
    const auto payload = Base64Url::decode(signedText.substr(prefix.size()));
    if (!payload || payload->size() != payloadBytes) {
        return std::nullopt;
    }
    Claims claims{};
    std::memcpy(claims.deviceId.data(), payload->data(), claims.deviceId.size());
    std::uint64_t stamp = 0;
    for (std::size_t i = 16; i < payloadBytes; ++i) {
        stamp = (stamp << 8) | (*payload)[i];
    }
    claims.issuedAt = static_cast<std::int64_t>(stamp);
    // The issue time is any 64-bit value the holder of the secret put there, and the clock any
    // value it reads: sums and differences that do not fit saturate instead of overflowing.
    const std::int64_t now = now_();
    std::int64_t latest = 0;
    if (__builtin_add_overflow(now, allowedClockSkew, &latest)) {
        latest = std::numeric_limits<std::int64_t>::max();
    }
    if (claims.issuedAt > latest) {
        return std::nullopt;
    }
    std::int64_t age = 0;
    if (maxAgeSeconds_ > 0 &&
        (__builtin_sub_overflow(now, claims.issuedAt, &age) || age > maxAgeSeconds_)) {
        return std::nullopt;  // an age too large to represent is older than any maximum
    }
    return claims;
}

std::optional<std::string> TokenAuthority::bearerToken(std::string_view authorization) {
    constexpr std::string_view scheme = "bearer ";
    if (authorization.size() <= scheme.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const char c = authorization[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) {
            return std::nullopt;
        }
    }
    return std::string(authorization.substr(scheme.size()));
}

std::optional<TokenAuthority::Secret> TokenAuthority::loadOrCreateSecret(
    const std::filesystem::path& dataDir, std::string* error) {
    if (!FileIo::makeFolders(dataDir, true)) {
        fail(error, "cannot create the data folder " + dataDir.string());
        return std::nullopt;
    }
    const auto path = dataDir / secretFileName;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        // Create it so that two servers starting at once on one folder agree on one secret:
        // the new file is complete before link() publishes it, and link() never replaces.
        const auto temporary = dataDir / (std::string(secretFileName) + ".new");
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        if (!FileIo::replaceAtomically(temporary, newSecretText(), 0600)) {
            fail(error, "cannot write " + temporary.string());
            return std::nullopt;
        }
        if (::link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST) {
            fail(error, "cannot create " + path.string() + ": " + std::strerror(errno));
            std::filesystem::remove(temporary, ignored);
            return std::nullopt;
        }
        std::filesystem::remove(temporary, ignored);
        if (::stat(path.c_str(), &info) != 0) {
            fail(error, "cannot read " + path.string());
            return std::nullopt;
        }
    }
    if ((info.st_mode & 077) != 0) {
        fail(error, path.string() + " can be read by other users; make it private with chmod 600");
        return std::nullopt;
    }
    const auto text = FileIo::read(path);
    if (!text) {
        fail(error, "cannot read " + path.string());
        return std::nullopt;
    }
    std::string_view trimmed = *text;
    while (!trimmed.empty() &&
           (trimmed.back() == '\n' || trimmed.back() == '\r' || trimmed.back() == ' ')) {
        trimmed.remove_suffix(1);
    }
    auto secret = fromHex(trimmed);
    if (!secret) {
        fail(error, path.string() + " does not hold a secret of 64 hexadecimal digits");
    }
    return secret;
}

bool TokenAuthority::rotateSecret(const std::filesystem::path& dataDir, std::string* error) {
    if (!FileIo::makeFolders(dataDir, true)) {
        return fail(error, "cannot create the data folder " + dataDir.string());
    }
    const auto path = dataDir / secretFileName;
    if (!FileIo::replaceAtomically(path, newSecretText(), 0600)) {
        return fail(error, "cannot write " + path.string());
    }
    return true;
}

}  // namespace sayloft
