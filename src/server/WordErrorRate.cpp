#include "server/WordErrorRate.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace sayloft {

std::vector<std::string> WordErrorRate::words(const std::string& text) {
    std::string cleaned;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        cleaned += std::isalnum(u) || c == '\'' ? static_cast<char>(std::tolower(u)) : ' ';
    }
    std::istringstream in(cleaned);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

std::size_t WordErrorRate::errors(const std::string& reference, const std::string& hypothesis) {
    const auto r = words(reference);
    const auto h = words(hypothesis);
    std::vector<std::size_t> previous(h.size() + 1), current(h.size() + 1);
    for (std::size_t j = 0; j <= h.size(); ++j) {
        previous[j] = j;
    }
    for (std::size_t i = 1; i <= r.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= h.size(); ++j) {
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1,
                                   previous[j - 1] + (r[i - 1] == h[j - 1] ? 0 : 1)});
        }
        std::swap(previous, current);
    }
    return previous[h.size()];
}

}  // namespace sayloft
