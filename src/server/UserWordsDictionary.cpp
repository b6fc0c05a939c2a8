#include "server/UserWordsDictionary.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace sayloft {
namespace {

std::string lowerCase(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Which of `wanted` (lower case) the dictionary file spells, alternatives ("word(2)") included.
std::set<std::string> knownOf(const std::set<std::string>& wanted,
                              const std::filesystem::path& dictionary) {
    std::set<std::string> known;
    std::ifstream in(dictionary);
    for (std::string line; std::getline(in, line) && known.size() < wanted.size();) {
        auto word = line.substr(0, line.find_first_of(" \t("));
        if (wanted.count(word) != 0) {
            known.insert(std::move(word));
        }
    }
    return known;
}

}  // namespace

UserWordsDictionary::Outcome UserWordsDictionary::resolve(const std::vector<std::string>& entries,
                                                          const std::filesystem::path& dictionary,
                                                          const Pronounce& pronounce) {
    std::vector<std::string> words;
    for (const auto& entry : entries) {
        std::istringstream in(entry);
        for (std::string word; in >> word;) {
            if (std::find(words.begin(), words.end(), word) == words.end()) {
                words.push_back(word);
            }
        }
    }
    std::set<std::string> wanted;
    for (const auto& word : words) {
        wanted.insert(lowerCase(word));
    }
    const auto known = knownOf(wanted, dictionary);
    Outcome outcome;
    for (const auto& word : words) {
        if (known.count(lowerCase(word)) != 0) {
            outcome.known.push_back(word);
            continue;
        }
        std::string reason;
        if (auto phones = pronounce(word, &reason)) {
            outcome.added.push_back({word, std::move(*phones)});
        } else {
            outcome.underivable.push_back(word + " (" + reason + ")");
        }
    }
    return outcome;
}

std::string UserWordsDictionary::Outcome::describe() const {
    std::string text = std::to_string(added.size()) + " word(s) added, " +
                       std::to_string(known.size()) + " already known";
    if (!underivable.empty()) {
        text += "; no pronunciation could be derived for:";
        for (const auto& word : underivable) {
            text += " " + word;
        }
    }
    return text;
}

}  // namespace sayloft
