#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sayloft {

// Pronunciations of words the recogniser's dictionary lacks, derived by espeak-ng (Debian package
// espeak-ng) with its US English voice and mapped to the CMU phone set of the model
// ("Sayloft" -> "S EY L AO F T"). A word espeak-ng cannot pronounce, or whose phonemes have no
// counterpart, gets no pronunciation: it is never guessed.
struct EspeakPronunciation {
    // Runs `espeak-ng -q -x --sep=_ -v en-us WORD`. nullopt with *reason set when the word has
    // characters other than ASCII letters, apostrophes and hyphens, espeak-ng is missing or
    // fails, or a phoneme cannot be mapped.
    static std::optional<std::string> derive(const std::string& word, std::string* reason);

    // espeak-ng's phoneme mnemonics ("s_'eI_l_O2_f_t", words separated by spaces) as CMU phones.
    // nullopt with *unmapped set to the first phoneme without a counterpart.
    static std::optional<std::string> toCmuPhones(std::string_view mnemonics,
                                                  std::string* unmapped);
};

}  // namespace sayloft
