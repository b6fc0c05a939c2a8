#include "cli/CliOptions.h"

#include "core/net/InviteCode.h"

namespace sayloft {

std::optional<CliOptions> CliOptions::parse(const std::vector<std::string>& args,
                                            std::string* error) {
    CliOptions options;
    std::vector<std::string> positional;
    auto fail = [error](std::string reason) -> std::optional<CliOptions> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.command = Command::help;
            return options;
        }
        if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--service" || arg == "--token" || arg == "--invite") {
            if (i + 1 == args.size()) {
                return fail(arg + " needs a value");
            }
            (arg == "--service" ? options.service
             : arg == "--token" ? options.token
                                : options.invite) = args[++i];
        } else if (arg.rfind("--service=", 0) == 0) {
            options.service = arg.substr(10);
        } else if (arg.rfind("--token=", 0) == 0) {
            options.token = arg.substr(8);
        } else if (arg.rfind("--invite=", 0) == 0) {
            options.invite = arg.substr(9);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        return fail(
            "no command given (transcribe, ping, register, consent, doctor, token, hotkey or "
            "words)");
    }
    const std::string& command = positional[0];
    const std::size_t operands = positional.size() - 1;
    if (command == "transcribe") {
        if (operands != 1) {
            return fail("transcribe needs exactly one WAV file");
        }
        options.command = Command::transcribe;
        options.wavFile = positional[1];
    } else if (command == "ping" || command == "register" || command == "doctor" ||
               command == "consent") {
        if (operands != 0) {
            return fail(command + " takes no operands");
        }
        options.command = command == "ping"       ? Command::ping
                          : command == "register" ? Command::registerDevice
                          : command == "doctor"   ? Command::doctor
                                                  : Command::consent;
    } else if (command == "token") {
        if (operands != 2 || positional[1] != "set") {
            return fail("token needs: set TOKEN");
        }
        options.command = Command::tokenSet;
        options.tokenText = positional[2];
    } else if (command == "hotkey") {
        if (operands != 1 ||
            (positional[1] != "press" && positional[1] != "release" && positional[1] != "name")) {
            return fail("hotkey needs exactly one of press, release or name");
        }
        options.command = positional[1] == "name" ? Command::hotkeyName : Command::hotkey;
        options.hotkeyPress = positional[1] == "press";
    } else if (command == "words") {
        const std::string action = operands == 0 ? "" : positional[1];
        if (action == "list" && operands == 1) {
            options.command = Command::wordsList;
        } else if ((action == "add" || action == "remove") && operands >= 2) {
            options.command = action == "add" ? Command::wordsAdd : Command::wordsRemove;
            options.words.assign(positional.begin() + 2, positional.end());
        } else {
            return fail("words needs: add WORD..., remove WORD... or list");
        }
    } else if (command == "help") {
        options.command = Command::help;
    } else {
        return fail("unknown command " + command);
    }
    if (options.invite && options.command != Command::registerDevice) {
        return fail("--invite goes with register only");
    }
    if (options.invite && !InviteCode::isValid(*options.invite)) {
        return fail("an invitation code is one word of letters, digits and punctuation, at most " +
                    std::to_string(InviteCode::maxLength) + " characters");
    }
    return options;
}

const char* CliOptions::helpText() {
    return R"(Usage: sayloft-cli [options] COMMAND

Commands:
  transcribe FILE.wav  Send a recording to the transcription service and print the text.
                       Reads PCM WAV files: 8/16/24/32-bit integer or 32-bit float samples,
                       any rate, any number of channels; converts them to 16 kHz mono 16-bit
                       (channels averaged, high-quality resampling) as Sayloft does.
  ping                 Ask the service for "health" and report whether it answered.
  register [--invite CODE]
                       Obtain a new service token and store it where Sayloft keeps it
                       ($XDG_DATA_HOME/Sayloft/device_token). A service on another computer
                       registers only with the invitation code its operator gave you.
  consent              Record that you agree to send recordings to the transcription service
                       (what Sayloft asks on its first start), so that its hotkey starts.
  doctor               Check what Sayloft needs on this desktop, one line each with what to do
                       when something is missing: the session and the route Sayloft takes for
                       the hotkey, typing, the clipboard and the panel (with the key binding
                       lines when the hotkey comes from the compositor), X display, XInput 2,
                       XTEST, tray host, notifications, audio server and default source, the
                       service, the token. Exit status 0 when nothing is missing, 1 otherwise.
  token set TOKEN      Store a token that the service's operator gave you (for a service that
                       does not offer registration) where Sayloft keeps it.
  hotkey press|release Tell the running Sayloft that the hotkey went down or up. For a
                       compositor key binding on Wayland (doctor prints the lines); works only
                       for the same user, with the cookie Sayloft writes at start.
  hotkey name          Print the name of the chosen hotkey ("Right Alt", "Left Super" ...).
  words add WORD...    Add words or phrases you dictate often (names, terms; quote a phrase)
                       to $XDG_CONFIG_HOME/Sayloft/words.txt, one a line. The built-in
                       recogniser of sayloft-server learns the words it lacks, with a
                       pronunciation from espeak-ng, when it starts: restart it after a change.
                       Its log names the words whose pronunciation could not be derived.
  words remove WORD... Remove them again.
  words list           Print the words and phrases, one a line.
  help                 Show this text.

Options:
  --service URL        Use this service instead of the built-in address (http(s)://host[:port]).
                       A token is only sent over plain http to a loopback address.
  --token TEXT         Use this token instead of the stored one.
  --invite CODE        register: the service's invitation code (sent only over https, or
                       plain http to this computer).
  --verbose, -v        transcribe: print the durations and the time of each phase on stderr.
  --help, -h           Show this text.

Exit status:
  0 success              1 other failure          2 usage error
  3 unreadable input     4 no token stored        5 token could not be stored
  10 network  11 timedOut  12 unauthorized  13 rateLimited  14 asrFailed  15 badResponse
On a failure, one line on stderr says what failed and what to do.
)";
}

}  // namespace sayloft
