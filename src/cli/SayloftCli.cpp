#include "cli/SayloftCli.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <ostream>
#include <span>

#include "app/HotkeySetting.h"
#include "cli/CliTexts.h"
#include "cli/DesktopChecks.h"
#include "cli/HotkeyCall.h"
#include "cli/KeyBindingLines.h"
#include "core/audio/PcmConverter.h"
#include "core/audio/Recorder.h"
#include "core/audio/WavReader.h"
#include "core/config/Config.h"
#include "core/hotkey/HotkeyCookie.h"
#include "core/net/APIClient.h"
#include "core/net/BearerToken.h"
#include "core/net/CurlSession.h"
#include "core/net/RegistrationNotOffered.h"
#include "core/net/TransportError.h"
#include "core/storage/FileIo.h"
#include "core/storage/KeychainStore.h"
#include "core/storage/UserDefaultsStore.h"
#include "core/storage/UserWordsFile.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

using Clock = std::chrono::steady_clock;

CurlSession::Options sessionOptions(const ServiceEndpoint& endpoint) {
    CurlSession::Options options;
    options.unixSocket = endpoint.unixSocket;
    return options;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

SayloftCli::SayloftCli(Environment environment) : environment_(std::move(environment)) {
}

int SayloftCli::exitCodeFor(APIError error) {
    return firstAPIError + static_cast<int>(error);
}

int SayloftCli::run(const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err) const {
    std::string problem;
    const auto options = CliOptions::parse(args, &problem);
    if (!options) {
        err << "sayloft-cli: " << problem << " (see sayloft-cli --help)\n";
        return usage;
    }
    if (options->command == CliOptions::Command::help) {
        out << CliOptions::helpText();
        return ok;
    }
    Url service = environment_.defaultService;
    if (options->service) {
        const auto parsed = Url::parse(*options->service);
        if (!parsed) {
            err << "sayloft-cli: --service needs http(s)://host[:port] without a path, got \""
                << *options->service << "\"\n";
            return usage;
        }
        service = *parsed;
    }
    // The user's own service on this computer is reached over its socket when that is where it
    // is (see ServiceEndpoint::choose), exactly as Sayloft reaches it.
    const ServiceEndpoint endpoint = ServiceEndpoint::choose(service, environment_.runtimeDir);
    try {
        switch (options->command) {
            case CliOptions::Command::transcribe:
                return transcribe(*options, endpoint, out, err);
            case CliOptions::Command::ping:
                return ping(endpoint, out, err);
            case CliOptions::Command::registerDevice:
                return registerDevice(endpoint, options->invite.value_or(""), out, err);
            case CliOptions::Command::doctor:
                return doctor(endpoint, out);
            case CliOptions::Command::consent:
                return consent(service, out, err);
            case CliOptions::Command::hotkey:
                return hotkey(options->hotkeyPress, err);
            case CliOptions::Command::hotkeyName:
                return hotkeyName(out);
            case CliOptions::Command::tokenSet:
                return setToken(options->tokenText, out, err);
            case CliOptions::Command::wordsAdd:
            case CliOptions::Command::wordsList:
            case CliOptions::Command::wordsRemove:
                return words(*options, out, err);
            case CliOptions::Command::help:
                break;
        }
    } catch (const APIFailure& failure) {
        return reportFailure(options->command, failure.error, err);
    } catch (const std::exception& error) {
        err << CliTexts::forLanguage(environment_.chinese)
                   .failure(options->command, std::nullopt, error.what())
            << "\n";
        return otherFailure;
    }
    return ok;
}

int SayloftCli::words(const CliOptions& options, std::ostream& out, std::ostream& err) const {
    const auto file = UserWordsFile::defaultPath(environment_.configHome);
    std::string error;
    auto entries = UserWordsFile::read(file, &error);
    if (!entries) {
        // A broken file is left as it is for the user to mend: rewriting it would lose lines.
        err << "sayloft-cli: " << error << "\n";
        return badInput;
    }
    if (options.command == CliOptions::Command::wordsList) {
        for (const auto& entry : *entries) {
            out << entry << "\n";
        }
        return ok;
    }
    int status = ok;
    for (const auto& given : options.words) {
        const auto entry = UserWordsFile::normalise(given);
        const auto found = std::find(entries->begin(), entries->end(), entry);
        if (options.command == CliOptions::Command::wordsAdd) {
            if (entry.empty() || entry.front() == '#' ||
                entry.size() > UserWordsFile::maxEntryBytes || !UnicodeText::isValidUtf8(entry)) {
                err << "sayloft-cli: not a word or phrase for the list: \"" << given
                    << "\" (at most " << UserWordsFile::maxEntryBytes
                    << " bytes of text, not starting with #)\n";
                status = badInput;
            } else if (found == entries->end()) {
                entries->push_back(entry);
            }
        } else if (found != entries->end()) {
            entries->erase(found);
        } else {
            err << "sayloft-cli: \"" << entry << "\" is not in " << file.string() << "\n";
            status = otherFailure;
        }
    }
    if (!UserWordsFile::write(file, *entries, &error)) {
        err << "sayloft-cli: " << error << "\n";
        return otherFailure;
    }
    out << file.string() << ": " << entries->size()
        << " word(s) or phrase(s); restart sayloft-server to use them\n";
    return status;
}

int SayloftCli::reportFailure(CliOptions::Command command, APIError error,
                              std::ostream& err) const {
    err << CliTexts::forLanguage(environment_.chinese).failure(command, error) << "\n";
    return exitCodeFor(error);
}

int SayloftCli::transcribe(const CliOptions& options, const ServiceEndpoint& endpoint,
                           std::ostream& out, std::ostream& err) const {
    const auto started = Clock::now();
    const auto bytes = FileIo::read(options.wavFile);
    if (!bytes) {
        err << "sayloft-cli: " << options.wavFile << ": cannot be read\n";
        return badInput;
    }
    std::string problem;
    const auto decoded = WavReader::decode(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()), &problem);
    if (!decoded) {
        err << "sayloft-cli: " << options.wavFile << ": " << problem << "\n";
        return badInput;
    }
    const double readMs = millisecondsSince(started);

    const auto convertStarted = Clock::now();
    const std::vector<std::int16_t> samples = PcmConverter::toSpeechSamples(*decoded);
    const std::vector<std::uint8_t> wav =
        Recorder::encodeWav(samples, static_cast<std::int32_t>(Config::sampleRate));
    const double convertMs = millisecondsSince(convertStarted);
    const double audioSeconds = static_cast<double>(samples.size()) / Config::sampleRate;

    std::string token;
    if (options.token) {
        token = *options.token;
    } else if (auto stored = KeychainStore(environment_.dataHome).loadToken()) {
        token = *stored;
    } else {
        err << "sayloft-cli: no service token stored; run \"sayloft-cli register\" or pass "
               "--token\n";
        return noToken;
    }
    const Url& service = endpoint.url;
    if (!service.isHttps() && !service.isLoopback()) {
        err << "sayloft-cli: refusing to send the token over plain http to " << service.host()
            << "; use https\n";
        return exitCodeFor(APIError::network);
    }

    const APIClient client(endpoint);
    const auto sendStarted = Clock::now();
    const TranscribeResult result = client.transcribe(token, wav, audioSeconds);
    const double serviceMs = millisecondsSince(sendStarted);

    out << result.text << "\n";
    if (options.verbose) {
        err << std::fixed << std::setprecision(3) << "audio: " << audioSeconds
            << " s (16 kHz mono, from " << decoded->sampleRate << " Hz, " << decoded->channels
            << " channel(s), " << decoded->bitsPerSample << "-bit"
            << (decoded->isFloat ? " float" : "") << ")\n"
            << "service duration: " << result.duration << " s\n"
            << std::setprecision(1) << "read and decode: " << readMs << " ms\n"
            << "convert and encode: " << convertMs << " ms\n"
            << "transcription: " << serviceMs << " ms\n"
            << "total: " << millisecondsSince(started) << " ms\n";
    }
    return ok;
}

int SayloftCli::ping(const ServiceEndpoint& endpoint, std::ostream& out, std::ostream& err) const {
    const Url& service = endpoint.url;
    // The same request as APIClient::ping, but its outcome is reported.
    HttpRequest request;
    request.url = service.appending("health");
    request.timeout = APIClient::pingTimeout;
    CurlSession session(sessionOptions(endpoint));
    const auto started = Clock::now();
    try {
        const HttpResponse response = session.perform(request, {});
        out << endpoint.describe() << ": HTTP " << response.status << " in " << std::fixed
            << std::setprecision(1) << millisecondsSince(started) << " ms\n";
        return response.status == 200 ? ok : exitCodeFor(APIError::asrFailed);
    } catch (const TransportError& error) {
        err << endpoint.describe() << ": no answer (" << error.what() << ")\n";
        return exitCodeFor(APIError::network);
    }
}

int SayloftCli::registerDevice(const ServiceEndpoint& endpoint, const std::string& invite,
                               std::ostream& out, std::ostream& err) const {
    const Url& service = endpoint.url;
    if (!invite.empty() && !service.isHttps() && !service.isLoopback()) {
        err << "sayloft-cli: refusing to send the invitation code over plain http to "
            << service.host() << "; use https\n";
        return exitCodeFor(APIError::network);
    }
    const APIClient client(endpoint);
    const KeychainStore store(environment_.dataHome);
    std::string token;
    try {
        token = client.registerDevice({}, invite);
    } catch (const RegistrationNotOffered& error) {
        err << "sayloft-cli: " << endpoint.describe() << " does not offer registration ("
            << error.what() << "); ask its operator for a token and save it in "
            << store.tokenFile().string() << "\n";
        return otherFailure;
    }
    return storeToken(store, token, out, err);
}

int SayloftCli::storeToken(const KeychainStore& store, const std::string& token, std::ostream& out,
                           std::ostream& err) const {
    if (!store.saveToken(token)) {
        err << "sayloft-cli: the token could not be stored in " << store.tokenFile().string()
            << "\n";
        return tokenNotStored;
    }
    out << "token stored in " << store.tokenFile().string() << "\n";
    return ok;
}

int SayloftCli::consent(const Url& service, std::ostream& out, std::ostream& err) const {
    UserDefaultsStore defaults(UserDefaultsStore::defaultLocation(environment_.configHome));
    if (!defaults.setBoolean(consentKey, true)) {
        err << "sayloft-cli: the consent could not be stored in "
            << UserDefaultsStore::defaultLocation(environment_.configHome).string() << "\n";
        return otherFailure;
    }
    out << "recordings will be sent to " << service.text() << " for transcription ("
        << (service.isLoopback() ? "a service on this computer" : "over the network")
        << "); consent stored in "
        << UserDefaultsStore::defaultLocation(environment_.configHome).string() << "\n";
    return ok;
}

int SayloftCli::setToken(const std::string& token, std::ostream& out, std::ostream& err) const {
    if (!BearerToken::isValid(token)) {
        err << "sayloft-cli: that is not a token (letters, digits and -._~+/ only, then = "
               "padding); nothing was stored\n";
        return badInput;
    }
    const KeychainStore store(environment_.dataHome);
    return storeToken(store, token, out, err);
}

int SayloftCli::hotkey(bool press, std::ostream& err) const {
    const auto path = HotkeyCookie::location(environment_.runtimeDir);
    const auto cookie = HotkeyCookie::read(path);
    if (!cookie) {
        err << "sayloft-cli: no hotkey cookie "
            << (path.empty() ? std::string("($XDG_RUNTIME_DIR is not set)") : "in " + path.string())
            << ": Sayloft is not running in this login, or it does not take the hotkey from a "
               "key binding (see sayloft-cli doctor)\n";
        return otherFailure;
    }
    if (const auto problem = HotkeyCall::send(press, *cookie, environment_.startedAt)) {
        err << "sayloft-cli: " << *problem << "\n";
        return otherFailure;
    }
    return ok;
}

int SayloftCli::hotkeyName(std::ostream& out) const {
    const UserDefaultsStore defaults(UserDefaultsStore::defaultLocation(environment_.configHome),
                                     UserDefaultsStore::Access::readOnly);
    const std::uint16_t code = HotkeySetting::fromStored(defaults.integer(HotkeySetting::key));
    out << KeyBindingLines::keyName(code).value_or("key code " + std::to_string(code)) << "\n";
    return ok;
}

int SayloftCli::doctor(const ServiceEndpoint& endpoint, std::ostream& out) const {
    const Url& service = endpoint.url;
    auto [checks, keyBinding, wayland] = DesktopChecks::run();

    HttpRequest request;
    request.url = service.appending("health");
    request.timeout = APIClient::pingTimeout;
    const bool local = service.isLoopback();
    const std::string start = local ? "Sayloft starts it for you (so does scripts/run); by hand: "
                                      "sayloft-server --unix-socket "
                                      "$XDG_RUNTIME_DIR/sayloft/server.sock"
                                    : "check the network, or ask whoever runs " + service.host();
    try {
        CurlSession session(sessionOptions(endpoint));
        const HttpResponse response = session.perform(request, {});
        checks.push_back({"service", response.status == 200,
                          endpoint.describe() + " answers HTTP " + std::to_string(response.status),
                          start});
    } catch (const std::exception& error) {
        checks.push_back({"service", false, endpoint.describe() + " does not answer", start});
    }

    // The doctor only looks: read-only stores change no file, whatever they find.
    const KeychainStore store(environment_.dataHome, KeychainStore::Access::readOnly);
    const KeychainStore::Lookup token = store.lookUp();
    const std::string registerAdvice = "run: sayloft-cli register (with the service running)";
    switch (token.state) {
        case KeychainStore::TokenState::valid:
            checks.push_back(
                {"token", true,
                 token.file.string() +
                     (token.readableByOthers
                          ? " (readable by others: Sayloft makes it private at its next start)"
                          : ""),
                 ""});
            break;
        case KeychainStore::TokenState::malformed:
            checks.push_back({"token", false,
                              token.file.string() +
                                  " holds no token (too large, or characters other than "
                                  "letters, digits, -._~+/ and = padding)",
                              "delete it, then " + registerAdvice});
            break;
        case KeychainStore::TokenState::absent:
            checks.push_back(
                {"token", false, "none in " + store.tokenFile().string(), registerAdvice});
            break;
    }
    const UserDefaultsStore defaults(UserDefaultsStore::defaultLocation(environment_.configHome),
                                     UserDefaultsStore::Access::readOnly);
    if (defaults.foundBroken()) {
        checks.push_back({"settings", false,
                          UserDefaultsStore::defaultLocation(environment_.configHome).string() +
                              " is not a JSON object; Sayloft reads it as empty",
                          "Sayloft keeps it aside as defaults.json.broken-<time> at its next "
                          "start and begins with its defaults"});
    }
    if (defaults.boolean(consentKey).value_or(false)) {
        checks.push_back({"consent", true, "recordings may be sent to the service", ""});
    } else {
        checks.push_back({"consent", false, "not given; the hotkey stays off until it is",
                          "run: sayloft-cli consent (or scripts/run, which asks)"});
    }

    bool allOk = true;
    for (const auto& check : checks) {
        out << check.line() << "\n";
        allOk = allOk && check.ok;
    }
    if (keyBinding || wayland) {
        std::error_code error;
        auto cli = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            cli = "sayloft-cli";
        }
        for (const auto& line : KeyBindingLines::forHotkey(
                 HotkeySetting::fromStored(defaults.integer(HotkeySetting::key)), cli.string())) {
            out << line << "\n";
        }
    }
    if (wayland) {
        const auto& texts = CliTexts::forLanguage(environment_.chinese).hotkeyRoutes;
        out << "\n" << texts.heading << "\n" << texts.evdev << "\n" << texts.keyBinding << "\n";
    }
    return allOk ? ok : otherFailure;
}

}  // namespace sayloft
