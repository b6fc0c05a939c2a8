#include "core/net/BearerToken.h"

namespace sayloft {

bool BearerToken::isValid(std::string_view text) {
    if (text.empty() || text.size() > maxBytes) {
        return false;
    }
    const std::size_t padding = text.find_last_not_of('=');
    if (padding == std::string_view::npos) {
        return false;  // "=" alone has no token characters
    }
    constexpr std::string_view tokenCharacters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~+/";
    return text.substr(0, padding + 1).find_first_not_of(tokenCharacters) == std::string_view::npos;
}

}  // namespace sayloft
