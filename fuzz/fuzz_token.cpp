// Fuzzes the device-token checks of the service. The first input byte picks what the rest is:
//   0: an Authorization header value, its bearer token verified as the service does (the seeds
//      hold one genuine token);
//   1: the text a token signs, signed here with the fuzzer's secret, so that the payload decoding
//      and the time checks behind the MAC are reached too (the last 16 bytes set the clock and the
//      maximum age);
//   2: Base64Url text, which must decode to bytes that encode back to the same text.
// A verified token must be the one text issued for its claims: no other spelling is accepted.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "server/Base64Url.h"
#include "server/TokenAuthority.h"

namespace {

using sayloft::Base64Url;
using sayloft::TokenAuthority;

constexpr TokenAuthority::Secret secret = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                           12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                           23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

std::int64_t int64At(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = value << 8 | p[i];
    }
    return static_cast<std::int64_t>(value);
}

std::string signedBy(std::string_view text) {
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data(), &length);
    return std::string(text) + "." + Base64Url::encode(std::span(digest.data(), length));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0] % 3;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (mode == 0) {
        const TokenAuthority authority(secret, 30 * 24 * 3600, [] { return 1'800'000'000; });
        if (const auto token = TokenAuthority::bearerToken(rest)) {
            const auto claims = authority.verify(*token);
            if (claims && authority.issueFor(claims->deviceId, claims->issuedAt) != *token) {
                std::abort();  // a second text accepted for the same claims
            }
        }
    } else if (mode == 1) {
        if (rest.size() < 16) {
            return 0;
        }
        const auto* tail = reinterpret_cast<const std::uint8_t*>(rest.data() + rest.size() - 16);
        const std::int64_t now = int64At(tail);
        const std::int64_t maxAge = int64At(tail + 8);
        rest.remove_suffix(16);
        const TokenAuthority authority(secret, maxAge, [now] { return now; });
        const std::string token = signedBy(rest);
        const auto claims = authority.verify(token);
        if (claims && authority.issueFor(claims->deviceId, claims->issuedAt) != token) {
            std::abort();  // a second text accepted for the same claims
        }
    } else {
        const auto bytes = Base64Url::decode(rest);
        if (bytes && Base64Url::encode(*bytes) != rest) {
            std::abort();
        }
    }
    return 0;
}
