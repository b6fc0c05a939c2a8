#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sayloft {

// The user's own words: names and terms dictated often, in a UTF-8 text file of one word or
// phrase a line. Blank lines and lines starting with '#' are ignored; white space inside an
// entry is collapsed to single spaces. sayloft-cli edits it; the service reads it at start.
struct UserWordsFile {
    static constexpr std::size_t maxBytes = 64 * 1024;
    static constexpr std::size_t maxEntryBytes = 100;

    // $XDG_CONFIG_HOME/Sayloft/words.txt
    static std::filesystem::path defaultPath(const std::filesystem::path& configHome);

    // The entries, in file order without duplicates. An absent file is an empty list. nullopt
    // with *error set (naming the file and, where it applies, the line) when the file cannot be
    // read, is larger than maxBytes, is not UTF-8 text, or holds an entry longer than
    // maxEntryBytes.
    static std::optional<std::vector<std::string>> read(const std::filesystem::path& path,
                                                        std::string* error);
    static std::optional<std::vector<std::string>> parse(std::string_view text, std::string* error);

    // Replaces the file (made with its folder when missing) by these entries under a short
    // header comment. False with *error set when it cannot be written.
    static bool write(const std::filesystem::path& path, const std::vector<std::string>& entries,
                      std::string* error);

    // The entry as stored: white space trimmed and collapsed.
    static std::string normalise(std::string_view entry);
};

}  // namespace sayloft
