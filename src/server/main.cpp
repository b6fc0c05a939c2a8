// sayloft-server: see ServerOptions::usage() and the README's "sayloft-server" section.

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include <pthread.h>
#include <signal.h>

#include "core/net/InviteCode.h"
#include "core/storage/UserWordsFile.h"
#include "core/storage/XdgDirs.h"
#include "server/ChaosPlan.h"
#include "server/CrashStore.h"
#include "server/EspeakPronunciation.h"
#include "server/EvaluationSet.h"
#include "server/FairRecognitionQueue.h"
#include "server/PocketSphinxRecognizer.h"
#include "server/ReadableTextRecognizer.h"
#include "server/RecognitionEvaluation.h"
#include "server/SayloftServer.h"
#include "server/ServerOptions.h"
#include "server/TokenAuthority.h"
#include "server/UpstreamRecognizer.h"
#include "server/UserWordsDictionary.h"

namespace {

using namespace sayloft;

int fail(const std::string& message, int code = 1) {
    std::cerr << "sayloft-server: " << message << std::endl;
    return code;
}

// An upstream's text is answered as the upstream gives it; the built-in recogniser's words are
// made into sentences (ReadableTextRecognizer) unless --raw-text asks for them as they come.
// How many recognitions run at once: one per decoder of the built-in recogniser (one per core
// unless --decoders says otherwise); for an upstream service, the same count of requests to it.
std::size_t concurrentRecognitions(const ServerOptions& options) {
    return options.decoders != 0 ? options.decoders
                                 : std::max(1u, std::thread::hardware_concurrency());
}

// The dictionary additions from the user's words file. A broken file is reported and the
// service goes on with the model's own words.
std::vector<DictionaryWord> userWords(const ServerOptions& options) {
    const auto file =
        options.wordsFile.value_or(UserWordsFile::defaultPath(XdgDirs::current().configHome));
    if (file.empty()) {
        return {};
    }
    std::string error;
    const auto entries = UserWordsFile::read(file, &error);
    if (!entries) {
        std::cerr << "sayloft-server: " << error << "; going on without the user's words"
                  << std::endl;
        return {};
    }
    if (entries->empty()) {
        return {};
    }
    const auto outcome = UserWordsDictionary::resolve(
        *entries, options.modelDir / "cmudict-en-us.dict", EspeakPronunciation::derive);
    std::cerr << "sayloft-server: the user's words in " << file.string() << ": "
              << outcome.describe() << std::endl;
    return outcome.added;
}

std::unique_ptr<PocketSphinxRecognizer> loadBuiltIn(const ServerOptions& options,
                                                    std::size_t decoders,
                                                    std::size_t streamDecoders,
                                                    std::string* error) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> skipped;
    auto recognizer = PocketSphinxRecognizer::load(
        options.modelDir, decoders, streamDecoders,
        std::chrono::milliseconds(static_cast<long long>(options.queueTimeoutSeconds * 1000)),
        options.search, userWords(options), error, &skipped);
    if (!recognizer) {
        return nullptr;
    }
    for (const auto& word : skipped) {
        std::cerr << "sayloft-server: the recogniser refused the word " << word << std::endl;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cerr << "sayloft-server: loaded the pocketsphinx model " << options.modelDir.string()
              << " into " << decoders << " decoder(s) and " << streamDecoders << " for streams in "
              << std::fixed << std::setprecision(2) << seconds
              << " s; search settings: " << options.search.describe() << std::endl;
    return recognizer;
}

std::unique_ptr<SpeechRecognizer> makeRecognizer(const ServerOptions& options, std::string* error) {
    if (!options.upstream.empty()) {
        const char* key = std::getenv(ServerOptions::upstreamKeyVariable);
        return UpstreamRecognizer::create(
            options.upstream, options.upstreamModel, key != nullptr ? key : "",
            std::chrono::milliseconds(
                static_cast<long long>(options.upstreamTimeoutSeconds * 1000)),
            error);
    }
    auto recognizer =
        loadBuiltIn(options, concurrentRecognitions(options), options.streamDecoders, error);
    if (!recognizer || options.rawText) {
        return recognizer;
    }
    return std::make_unique<ReadableTextRecognizer>(std::move(recognizer));
}

// --evaluate: one decoder, the recordings one after the other, the figures on standard output.
int evaluate(const ServerOptions& options) {
    std::string error;
    const auto set = EvaluationSet::load(options.evaluateDir, &error);
    if (!set) {
        return fail(error);
    }
    const auto recognizer = loadBuiltIn(options, 1, 0, &error);
    if (!recognizer) {
        return fail(error);
    }
    // The decoder's own processor time, so that other work on the machine does not count.
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    const auto totals = RecognitionEvaluation::run(*recognizer, *set, now, std::cout);
    std::cout << RecognitionEvaluation::summary(totals)
              << " (processor time of the decoding thread)\nsearch settings: "
              << options.search.describe() << std::endl;
    return totals.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    const auto xdg = XdgDirs::current();
    const auto parsed = ServerOptions::parse(args, xdg.dataHome / "sayloft-server", &error);
    if (!parsed) {
        return fail(error, 2);
    }
    const ServerOptions& options = *parsed;
    if (options.help) {
        std::cout << ServerOptions::usage();
        return 0;
    }
    if (options.version) {
        std::cout << "sayloft-server " << SayloftServer::version << "\n";
        return 0;
    }
    if (!options.evaluateDir.empty()) {
        return evaluate(options);
    }
    if (options.rotateSecret) {
        if (!TokenAuthority::rotateSecret(options.dataDir, &error)) {
            return fail(error);
        }
        std::cerr << "sayloft-server: wrote a new token secret to "
                  << (options.dataDir / TokenAuthority::secretFileName).string()
                  << "; every earlier token is now refused" << std::endl;
        return 0;
    }

    // Signals are taken by one thread with sigwait, so they must be blocked before any other
    // thread exists (decoders, the watchdog and HTTP threads inherit the mask).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto secret = TokenAuthority::loadOrCreateSecret(options.dataDir, &error);
    if (!secret) {
        return fail(error);
    }
    std::optional<std::string> invite;
    if (!options.inviteFile.empty()) {
        invite = InviteCode::load(options.inviteFile, &error);
        if (!invite) {
            return fail(error);
        }
    }
    std::cerr << "sayloft-server: registration: "
              << (invite ? "this computer, and other computers with the invitation code"
                         : "this computer only")
              << std::endl;
    const TokenAuthority tokens(*secret, options.tokenMaxAgeDays * 86400,
                                [] { return static_cast<std::int64_t>(std::time(nullptr)); });
    std::optional<ChaosPlan> chaos =
        options.chaos.empty()
            ? std::nullopt
            : ChaosPlan::parse(options.chaos, options.chaosSeed.value_or(std::random_device()()),
                               &error);
    if (!options.chaos.empty()) {
        if (!chaos) {
            return fail(error, 2);
        }
        std::cerr << "sayloft-server: fault injection on: " << options.chaos << std::endl;
    }
    auto recognizer = makeRecognizer(options, &error);
    if (!recognizer) {
        return fail(error);
    }
    FairRecognitionQueue queue(*recognizer,
                               {.workers = concurrentRecognitions(options),
                                .perOwnerInProgress = options.perTokenRequests,
                                .maxQueuedSeconds = options.maxQueuedSeconds,
                                .queueTimeout = std::chrono::milliseconds(
                                    static_cast<long long>(options.queueTimeoutSeconds * 1000))});
    CrashStore crashes(options.crashDir(), options.crashPerDevice, options.crashTotalBytes);
    SayloftServer server(options, tokens, *recognizer, queue, crashes, std::move(invite),
                         std::move(chaos), std::cerr);
    const int port = server.bind(&error);
    if (port < 0) {
        return fail(error);
    }

    std::thread signalWaiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
        std::cerr << "sayloft-server: " << (received == SIGINT ? "SIGINT" : "SIGTERM")
                  << ": finishing requests in flight (at most " << options.drainSeconds << " s)"
                  << std::endl;
    });
    std::string listening;
    if (options.tcp) {
        listening = (options.tls() ? "https://" : "http://") +
                    (options.host.find(':') != std::string::npos ? "[" + options.host + "]"
                                                                 : options.host) +
                    ":" + std::to_string(port);
    }
    if (!options.unixSocket.empty()) {
        listening += (listening.empty() ? "unix:" : " and unix:") + options.unixSocket.string();
    }
    std::cerr << "sayloft-server " << SayloftServer::version << ": recogniser "
              << recognizer->describe() << "; listening on " << listening << std::endl;
    server.run();
    // Wake the signal thread if the server ended by itself.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    std::cerr << "sayloft-server: stopped" << std::endl;
    return 0;
}
