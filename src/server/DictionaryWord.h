#pragma once

#include <string>

namespace sayloft {

// A word added to the recogniser's dictionary, with its pronunciation in the model's phone set
// (space-separated, "K UW B ER N EH T IY Z").
struct DictionaryWord {
    std::string word;
    std::string phones;
};

}  // namespace sayloft
