#pragma once

#include <string>
#include <vector>

namespace sayloft {

// Word error rate: (substitutions + deletions + insertions) / reference words, over words
// lower-cased with punctuation other than apostrophes removed.
struct WordErrorRate {
    static std::vector<std::string> words(const std::string& text);
    static std::size_t errors(const std::string& reference, const std::string& hypothesis);
};

}  // namespace sayloft
