#include "server/EspeakPronunciation.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sayloft {
namespace {

// espeak-ng's English phonemes (its phsource/ph_english and ph_english_us names) and the CMU
// phones the model's dictionary writes for the same sound. Syllabic consonants and r-coloured
// vowels become two phones, as the dictionary spells them ("bottle" B AA T AH L).
const std::map<std::string_view, std::string_view>& phoneMap() {
    static const std::map<std::string_view, std::string_view> map = {
        {"p", "P"},     {"b", "B"},       {"t", "T"},       {"d", "D"},      {"k", "K"},
        {"g", "G"},     {"f", "F"},       {"v", "V"},       {"T", "TH"},     {"D", "DH"},
        {"s", "S"},     {"z", "Z"},       {"S", "SH"},      {"Z", "ZH"},     {"h", "HH"},
        {"tS", "CH"},   {"dZ", "JH"},     {"m", "M"},       {"n", "N"},      {"N", "NG"},
        {"l", "L"},     {"r", "R"},       {"r-", "R"},      {"w", "W"},      {"j", "Y"},
        {"?", "T"},     {"t#", "T"},      {"d#", "D"},      {"n-", "AH N"},  {"m-", "AH M"},
        {"l-", "AH L"}, {"@L", "AH L"},   {"x", "K"},       {"z#", "Z"},     {"a", "AE"},
        {"aa", "AE"},   {"a#", "AH"},     {"A:", "AA"},     {"A@", "AA R"},  {"A#", "AE"},
        {"aI", "AY"},   {"aI@", "AY ER"}, {"aI3", "AY ER"}, {"aU", "AW"},    {"aU@", "AW ER"},
        {"0", "AA"},    {"0#", "AA"},     {"O", "AO"},      {"O:", "AO"},    {"O2", "AO"},
        {"O@", "AO R"}, {"o@", "AO R"},   {"OI", "OY"},     {"oU", "OW"},    {"oU#", "OW"},
        {"o", "OW"},    {"@", "AH"},      {"@2", "AH"},     {"@5", "AH"},    {"3", "ER"},
        {"3:", "ER"},   {"@3", "ER"},     {"E", "EH"},      {"E2", "EH"},    {"E#", "EH"},
        {"e", "EH"},    {"e@", "EH R"},   {"eI", "EY"},     {"i", "IY"},     {"i:", "IY"},
        {"I", "IH"},    {"I2", "IH"},     {"I#", "IH"},     {"i@", "IY AH"}, {"i@3", "IY R"},
        {"U", "UH"},    {"U@", "UH R"},   {"u:", "UW"},     {"u", "UW"},     {"V", "AH"},
    };
    return map;
}

bool derivable(const std::string& word) {
    return !word.empty() && std::isalpha(static_cast<unsigned char>(word.front())) &&
           std::all_of(word.begin(), word.end(), [](char c) {
               return (std::isalpha(static_cast<unsigned char>(c)) && c > 0) || c == '\'' ||
                      c == '-';
           });
}

// espeak-ng's standard output for the word, or nullopt when it cannot be run or fails.
std::optional<std::string> runEspeak(const std::string& word) {
    int out[2];
    if (::pipe(out) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 0, 0);
    std::vector<std::string> args = {"espeak-ng", "-q", "-x", "--sep=_", "-v", "en-us", word};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "espeak-ng", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    if (spawned == 0) {
        char buffer[512];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
            if (n < 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(out[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::optional<std::string> EspeakPronunciation::toCmuPhones(std::string_view mnemonics,
                                                            std::string* unmapped) {
    std::string phones;
    std::size_t at = 0;
    while (at < mnemonics.size()) {
        const auto end = mnemonics.find_first_of("_ \t\r\n", at);
        auto phoneme = mnemonics.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? mnemonics.size() : end + 1;
        // Stress and syllable marks belong to the next phoneme; the model has no stress.
        while (!phoneme.empty() && (phoneme.front() == '\'' || phoneme.front() == ',' ||
                                    phoneme.front() == '%' || phoneme.front() == '=')) {
            phoneme.remove_prefix(1);
        }
        if (phoneme.empty() || phoneme == ":") {
            continue;
        }
        const auto mapped = phoneMap().find(phoneme);
        if (mapped == phoneMap().end()) {
            if (unmapped != nullptr) {
                *unmapped = std::string(phoneme);
            }
            return std::nullopt;
        }
        if (!phones.empty()) {
            phones += ' ';
        }
        phones += mapped->second;
    }
    if (phones.empty()) {
        if (unmapped != nullptr) {
            *unmapped = "(nothing)";
        }
        return std::nullopt;
    }
    return phones;
}

std::optional<std::string> EspeakPronunciation::derive(const std::string& word,
                                                       std::string* reason) {
    const auto fail = [&](std::string why) -> std::optional<std::string> {
        if (reason != nullptr) {
            *reason = std::move(why);
        }
        return std::nullopt;
    };
    if (!derivable(word)) {
        return fail(
            "only words of the letters a to z, apostrophes and hyphens get a pronunciation");
    }
    const auto mnemonics = runEspeak(word);
    if (!mnemonics) {
        return fail("espeak-ng (Debian package espeak-ng) could not be run");
    }
    std::string unmapped;
    auto phones = toCmuPhones(*mnemonics, &unmapped);
    if (!phones) {
        return fail("espeak-ng's phoneme " + unmapped + " has no counterpart in the model");
    }
    return phones;
}

}  // namespace sayloft
