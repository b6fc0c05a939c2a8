#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/DictionaryWord.h"

namespace sayloft {

// What the user's own words (UserWordsFile) add to the recogniser: each word of each entry
// that the model's dictionary lacks, with a derived pronunciation, joins the dictionary and the
// language model (as a single word) under the user's spelling. Words the dictionary holds are
// left as they are; words without a derivable pronunciation are reported, never guessed.
struct UserWordsDictionary {
    // The phones of a word, or nullopt with *reason set.
    using Pronounce = std::function<std::optional<std::string>(const std::string&, std::string*)>;

    struct Outcome {
        std::vector<DictionaryWord> added;
        std::vector<std::string> known;
        std::vector<std::string> underivable;  // "word (reason)"

        // One line for the service's log: "3 words added, 2 already known, no pronunciation
        // for: x2z (...)".
        std::string describe() const;
    };

    // dictionary: the model's pronunciation dictionary (one "word PHONES" a line, lower case).
    static Outcome resolve(const std::vector<std::string>& entries,
                           const std::filesystem::path& dictionary, const Pronounce& pronounce);
};

}  // namespace sayloft
