#include "server/ServerOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <vector>

#include <arpa/inet.h>

#include "server/PocketSphinxRecognizer.h"

namespace sayloft {
namespace {

// --token-max-age-days is multiplied by this where the token authority is made.
constexpr std::int64_t secondsPerDay = 86400;

template <typename T>
std::optional<T> parseNumber(std::string_view text) {
    T value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

bool ServerOptions::isLoopbackHost(std::string_view host) {
    if (host == "localhost") {
        return true;
    }
    const std::string text(host);
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    return ::inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::filesystem::path ServerOptions::crashDir() const {
    return replica.empty() ? dataDir / "crash-reports" : dataDir / "crash-reports" / replica;
}

std::optional<ServerOptions> ServerOptions::parse(std::span<const std::string_view> args,
                                                  const std::filesystem::path& defaultDataDir,
                                                  std::string* error) {
    ServerOptions o;
    o.dataDir = defaultDataDir;
    o.modelDir = PocketSphinxRecognizer::defaultModelDir;
    std::string problem;

    // Each value option: its setter answers false for a value it cannot use.
    using Setter = std::function<bool(std::string_view)>;
    auto positive = [](double& field) {
        return Setter([&field](std::string_view v) {
            const auto n = parseNumber<double>(v);
            return n && *n > 0 ? (field = *n, true) : false;
        });
    };
    auto count = [](auto& field, long long minimum) {
        return Setter([&field, minimum](std::string_view v) {
            const auto n = parseNumber<long long>(v);
            if (!n || *n < minimum) {
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
            return true;
        });
    };
    auto text = [](auto& field) {
        return Setter([&field](std::string_view v) { return !v.empty() && (field = v, true); });
    };
    std::uint64_t crashTotalMiB = o.crashTotalBytes / (1024 * 1024);
    std::uint64_t chaosSeed = 0;
    bool seedGiven = false;
    bool tcpGiven = false;
    bool searchDefaults = false;
    std::vector<std::string> searchChanges;  // --search, applied in order after the base  // --host
                                             // or --port: a TCP listener beside the Unix socket
    auto tcpOption = [&tcpGiven](Setter set) {
        return Setter([&tcpGiven, set = std::move(set)](std::string_view v) {
            tcpGiven = true;
            return set(v);
        });
    };
    const std::map<std::string_view, Setter> valued = {
        {"--host", tcpOption(text(o.host))},
        {"--port", tcpOption(count(o.port, 0))},
        {"--unix-socket", text(o.unixSocket)},
        {"--data-dir", text(o.dataDir)},
        {"--cert", text(o.certFile)},
        {"--key", text(o.keyFile)},
        {"--max-body-bytes", count(o.maxBodyBytes, 1024)},
        {"--max-audio-seconds", positive(o.maxAudioSeconds)},
        {"--rate-per-minute", positive(o.ratePerMinute)},
        {"--rate-burst", positive(o.rateBurst)},
        {"--register-per-hour", positive(o.registerPerHour)},
        {"--register-burst", positive(o.registerBurst)},
        {"--register-total-per-hour", positive(o.registerTotalPerHour)},
        {"--invite-file", text(o.inviteFile)},
        {"--token-max-age-days", count(o.tokenMaxAgeDays, 0)},
        {"--decoders", count(o.decoders, 1)},
        {"--stream-decoders", count(o.streamDecoders, 0)},
        {"--max-stream-seconds", positive(o.maxStreamSeconds)},
        {"--max-connections", count(o.maxConnections, 4)},
        {"--per-address-connections", count(o.perAddressConnections, 1)},
        {"--max-header-bytes", count(o.maxHeaderBytes, 4096)},
        {"--header-timeout", positive(o.headerTimeoutSeconds)},
        {"--body-grace", positive(o.bodyGraceSeconds)},
        {"--min-body-rate", positive(o.minBodyBytesPerSecond)},
        {"--idle-timeout", positive(o.idleTimeoutSeconds)},
        {"--busy-idle-timeout", positive(o.busyIdleTimeoutSeconds)},
        {"--drain-seconds", positive(o.drainSeconds)},
        {"--queue-timeout", positive(o.queueTimeoutSeconds)},
        {"--max-queued-seconds", positive(o.maxQueuedSeconds)},
        {"--per-token-requests", count(o.perTokenRequests, 1)},
        {"--model", text(o.modelDir)},
        {"--search", Setter([&](std::string_view v) {
             searchChanges.emplace_back(v);
             return true;
         })},
        {"--words", Setter([&](std::string_view v) { return o.wordsFile = v, true; })},
        {"--evaluate", text(o.evaluateDir)},
        {"--upstream", text(o.upstream)},
        {"--upstream-model", text(o.upstreamModel)},
        {"--upstream-timeout", positive(o.upstreamTimeoutSeconds)},
        {"--crash-per-device", count(o.crashPerDevice, 1)},
        {"--crash-total-mib", count(crashTotalMiB, 1)},
        {"--chaos", text(o.chaos)},
        {"--trusted-proxy", Setter([&](std::string_view v) {
             const auto list = TrustedProxies::parse(v, nullptr);
             return list && (o.trustedProxies.add(*list), true);
         })},
        {"--replica", Setter([&](std::string_view v) {
             // A folder name of its own: no separators, no "." or "..".
             const bool plain = std::all_of(v.begin(), v.end(), [](char c) {
                 return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                        c == '.';
             });
             return plain && !v.empty() && v.size() <= 64 && v != "." && v != ".." &&
                    (o.replica = v, true);
         })},
        {"--chaos-seed", Setter([&](std::string_view v) {
             const auto n = parseNumber<std::uint64_t>(v);
             return n && (chaosSeed = *n, seedGiven = true);
         })},
    };
    const std::map<std::string_view, bool*> flags = {
        {"--help", &o.help},        {"-h", &o.help},
        {"--version", &o.version},  {"--rotate-secret", &o.rotateSecret},
        {"--raw-text", &o.rawText}, {"--search-defaults", &searchDefaults}};

    for (std::size_t i = 0; i < args.size() && problem.empty(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> value;
        if (const auto eq = name.find('=');
            name.starts_with("--") && eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (const auto flag = flags.find(name); flag != flags.end() && !value) {
            *flag->second = true;
            continue;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) {
            problem = "unknown option '" + std::string(args[i]) + "' (see --help)";
            break;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                problem = std::string(name) + " needs a value";
                break;
            }
            value = args[++i];
        }
        if (!option->second(*value)) {
            problem = "invalid value '" + std::string(*value) + "' for " + std::string(name);
        }
    }
    if (searchDefaults) {
        o.search = RecognizerSettings::engineDefaults();
    }
    for (const auto& change : searchChanges) {
        std::string reason;
        if (problem.empty() && !o.search.apply(change, &reason)) {
            problem = "--search: " + reason;
        }
    }
    o.crashTotalBytes = crashTotalMiB * 1024 * 1024;
    if (seedGiven) {
        o.chaosSeed = chaosSeed;
    }
    o.tcp = o.unixSocket.empty() || tcpGiven;
    if (problem.empty() && !o.unixSocket.empty() && o.unixSocket.is_relative()) {
        problem = "--unix-socket needs an absolute path";
    }
    if (problem.empty() && o.port > 65535) {
        problem = "--port must be between 0 and 65535";
    }
    if (problem.empty() &&
        o.tokenMaxAgeDays > std::numeric_limits<std::int64_t>::max() / secondsPerDay) {
        problem = "--token-max-age-days is too large";
    }
    if (problem.empty() && o.certFile.empty() != o.keyFile.empty()) {
        problem = "--cert and --key go together";
    }
    const bool loopback = isLoopbackHost(o.host);
    if (problem.empty() && !loopback && !o.tls()) {
        problem = "refusing to serve plain HTTP on " + o.host +
                  ": tokens and audio would cross the network unencrypted. Give --cert and --key "
                  "for HTTPS, or listen on a loopback address such as 127.0.0.1";
    }
    if (problem.empty() && !o.chaos.empty() && !loopback) {
        problem =
            "--chaos injects faults for tests and is refused unless the server listens on "
            "a loopback address";
    }
    if (problem.empty() && !o.upstream.empty() && !o.upstream.starts_with("http://") &&
        !o.upstream.starts_with("https://")) {
        problem = "--upstream needs an http:// or https:// URL";
    }
    if (!problem.empty()) {
        if (error != nullptr) {
            *error = problem;
        }
        return std::nullopt;
    }
    return o;
}

std::string ServerOptions::usage() {
    return R"(Usage: sayloft-server [options]

The reference transcription service of Sayloft: issues device tokens and turns WAV recordings
into text with a built-in speech recogniser (pocketsphinx, US English) or an upstream service.

  --host ADDR              address to listen on (default 127.0.0.1). Plain HTTP is served only on
                           loopback addresses; any other address needs --cert and --key
  --port N                 port (default 8177; 0 picks a free one)
  --unix-socket PATH       serve plain HTTP on this Unix socket, which only this user can reach
                           (its folder is made 0700, the socket 0600; a stale socket left by a
                           server that died is replaced). Alone, it is the only listener; with
                           --host or --port, the TCP port is served too
  --cert FILE --key FILE   serve HTTPS with this PEM certificate chain and private key
  --data-dir DIR           token secret and crash reports (default $XDG_DATA_HOME/sayloft-server)
  --rotate-secret          replace the token secret with a new one and exit; every token issued
                           so far stops working and clients must register again
  --token-max-age-days N   refuse tokens older than N days (default 0: never)

Limits:
  --max-body-bytes N       largest request body (default 4194304); larger ones get 413
  --max-audio-seconds S    longest recording accepted (default 120)
  --rate-per-minute R      transcriptions and crash uploads per token per minute (default 30)
  --rate-burst B           how many of them may come at once (default 10)
  --register-per-hour R    new tokens per client network (IPv4 /24, IPv6 /64) per hour
                           (default 10); failed attempts count too
  --register-burst B       how many of them may come at once (default 5)
  --register-total-per-hour R
                           new tokens per hour for all other computers together (default 100)

Registration: clients on this computer (loopback, the Unix socket) register freely; others
must send the invitation code:
  --invite-file FILE       read the invitation code from FILE (one line of at least 16 letters,
                           digits or punctuation, not readable by every user); without it, only
                           this computer can register. Teammates use
                           sayloft-cli register --invite CODE
  --crash-per-device N     crash reports kept per token (default 20)
  --crash-total-mib N      crash reports kept in all, in MiB (default 256)

Replicas (several servers behind a load balancer such as HAProxy, sharing the token secret):
  --trusted-proxy LIST     accept a PROXY protocol version 2 header from these addresses or
                           CIDR prefixes (comma-separated, repeatable), e.g. 127.0.0.1; every
                           limit then sees the client it names. Their connections must send one;
                           others must not
  --replica NAME           this replica's name: its crash reports go to
                           DATA_DIR/crash-reports/NAME/, with the caps above for it alone

Connections (what one client can make the service hold):
  --max-connections N      connections open at once, each with its own thread (default 512);
                           128 more wait in the listen queue, and beyond that the service
                           closes new ones at once
  --per-address-connections N
                           connections open at once from one client address (default 32)
  --max-header-bytes N     memory per connection for the request line and headers (default
                           32768); a request whose headers do not fit gets 431
  --header-timeout S       request line and headers must arrive within S seconds of their
                           first byte (default 10)
  --body-grace S --min-body-rate B
                           after S seconds (default 10) a body must have arrived at B bytes a
                           second on average (default 4096); a live 16 kHz stream sends 32000
  --idle-timeout S         keep-alive between requests (default 65; clients ping each minute)
  --busy-idle-timeout S    keep-alive while more than half of --max-connections are open
                           (default 5)
  --drain-seconds S        at SIGTERM, how long requests in flight may finish before what is
                           left is closed (default 30)

Recognition:
  --model DIR              pocketsphinx model folder (default /usr/share/pocketsphinx/model/en-us)
  --decoders N             decoders loaded (default: one per processor core)
  --stream-decoders N      decoders kept apart for audio streamed while the user speaks
                           (POST /v1/stream; default 1); a stream that finds none free gets
                           503, and 0 switches streaming off (404)
  --max-stream-seconds S   a stream's wall time from its headers before the connection is cut
                           (default 65)
  --queue-timeout S        longest wait in the recognition queue before answering 503 (default 30)
  --max-queued-seconds S   audio seconds that may wait for a recogniser, all tokens together;
                           beyond, 503 with Retry-After (default 600). Tokens share the
                           recognisers by audio seconds
  --per-token-requests N   recognitions of one token running at once; more wait (default 2)
  --raw-text               answer the built-in recogniser's words as they come (lower case, no
                           punctuation) instead of sentences ("Send it on Friday.")
  --search NAME=VALUE,...  change the built-in recogniser's search settings (pocketsphinx
                           arguments without the dash: beam, wbeam, pbeam, lw, wip, maxhmmpf,
                           fwdflat, bestpath, ...); repeatable. The defaults were chosen by
                           measurement (bench/recognition/sweep)
  --search-defaults        start from pocketsphinx's own search settings instead
  --words FILE             the user's own words, one word or phrase a line (default
                           $XDG_CONFIG_HOME/Sayloft/words.txt, edited by sayloft-cli words;
                           read at start, so a change needs a restart). "" reads none
  --evaluate DIR           do not serve: run every DIR/NAME.wav (with its words in NAME.txt)
                           through the built-in recogniser with one decoder and print the word
                           error rate and real-time factor
  --upstream URL           forward audio to URL/v1/audio/transcriptions (OpenAI-compatible)
                           instead; the bearer key comes from $SAYLOFT_UPSTREAM_API_KEY. Its
                           text is answered as the upstream gives it
  --upstream-model NAME    the "model" field sent upstream (default whisper-1)
  --upstream-timeout S     (default 60)

Testing:
  --chaos LIST             inject faults into v1/ requests, loopback only, e.g.
                           stall=0.1,stall-seconds=5,reset=0.05,503=0.1,401=0.02,429=0.02,json=0.05
  --chaos-seed N           make the fault sequence repeatable

  --help, --version
SIGTERM or SIGINT stops accepting, closes idle connections, lets requests in flight finish
(at most --drain-seconds), then exits 0.
)";
}

}  // namespace sayloft
