#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sayloft {

// The command line of sayloft-cli, parsed.
struct CliOptions {
    enum class Command {
        help,
        transcribe,
        ping,
        registerDevice,
        doctor,
        consent,
        hotkey,
        hotkeyName,
        tokenSet,
        wordsAdd,
        wordsList,
        wordsRemove
    };

    Command command = Command::help;
    std::string wavFile;                 // transcribe only
    bool hotkeyPress = false;            // hotkey only: press (true) or release
    std::string tokenText;               // token set only
    std::vector<std::string> words;      // words add|remove: the words or phrases
    std::optional<std::string> invite;   // register only: --invite CODE (a valid InviteCode)
    std::optional<std::string> service;  // --service URL
    std::optional<std::string> token;    // --token TEXT
    bool verbose = false;

    // Parses the arguments after the program name. On a usage error returns nullopt and sets
    // *error to a one-line reason.
    static std::optional<CliOptions> parse(const std::vector<std::string>& args,
                                           std::string* error);

    static const char* helpText();
};

}  // namespace sayloft
