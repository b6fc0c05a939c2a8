#pragma once

#include <cstddef>
#include <string_view>

namespace sayloft {

// The grammar of a bearer token as it goes into an "Authorization: Bearer" header (RFC 6750
// b64token): one or more letters, digits or "-._~+/", then any number of "=". Nothing else: a
// space, a control byte or a line break would break the header or smuggle another one in.
struct BearerToken {
    // Longer tokens are refused: no service gives out such tokens, and a stored file of that size
    // is damage, not a token.
    static constexpr std::size_t maxBytes = 64 * 1024;

    // True when text is one b64token of at most maxBytes bytes.
    static bool isValid(std::string_view text);
};

}  // namespace sayloft
