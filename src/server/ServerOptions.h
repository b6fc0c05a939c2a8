#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "server/RecognizerSettings.h"
#include "server/TrustedProxies.h"

namespace sayloft {

// The command line of sayloft-server, with its defaults. parse() checks every value and the rules
// that combine them (plain HTTP only on loopback, chaos only on loopback, --cert with --key).
struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8177;  // 0: any free port (the "listening" line names it)
    std::filesystem::path dataDir;
    // Also (or only) serve plain HTTP on this Unix domain socket, which only this user can
    // reach. Given alone, it is the only listener (tcp is false); with --host or --port, the
    // TCP listener runs too.
    std::filesystem::path unixSocket;
    bool tcp = true;
    std::filesystem::path certFile;
    std::filesystem::path keyFile;

    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    double maxAudioSeconds = 120.0;
    double ratePerMinute = 30.0;  // transcriptions and crash uploads per token
    double rateBurst = 10.0;
    // Registration (RegistrationGate): per client network (IPv4 /24, IPv6 /64), and in all for
    // clients that are not on this computer.
    double registerPerHour = 10.0;
    double registerBurst = 5.0;
    double registerTotalPerHour = 100.0;
    // The invitation code clients on other computers must present to register
    // (InviteCode::load reads it at start); empty: only this computer registers.
    std::filesystem::path inviteFile;
    std::int64_t tokenMaxAgeDays = 0;  // 0: tokens never expire

    // What one client can make the HTTP layer hold (HttpDaemon, ConnectionDeadlines).
    std::size_t maxConnections = 512;        // open at once; each holds a thread
    std::size_t perAddressConnections = 32;  // open at once from one client address
    std::size_t maxHeaderBytes = 32 * 1024;  // per-connection memory for request line + headers
    double headerTimeoutSeconds = 10.0;      // request line and headers, from their first byte
    double bodyGraceSeconds = 10.0;          // then a body must average minBodyBytesPerSecond
    double minBodyBytesPerSecond = 4096.0;
    double idleTimeoutSeconds = 65.0;     // keep-alive between requests (clients ping each minute)
    double busyIdleTimeoutSeconds = 5.0;  // keep-alive while over half of maxConnections are open
    double drainSeconds = 30.0;           // at a stop, how long requests in flight may finish
    static constexpr int listenBacklog = 128;  // connections waiting beyond maxConnections

    std::size_t decoders = 0;  // 0: one per processor core
    // Decoders kept for audio streamed while the user speaks (v1/stream), beside `decoders`,
    // so that streams never starve one-shot requests; 0 switches streaming off.
    std::size_t streamDecoders = 1;
    double maxStreamSeconds = 65.0;  // a stream's wall time from its headers
    double queueTimeoutSeconds = 30.0;
    double maxQueuedSeconds = 600.0;   // audio waiting for a recogniser, all tokens together
    std::size_t perTokenRequests = 2;  // recognitions of one token running at once; more wait
    std::filesystem::path modelDir;
    // The built-in recogniser's words as it gives them (lower case, no punctuation) instead of
    // written sentences (ReadableText).
    bool rawText = false;
    // The built-in recogniser's search settings: the measured choice, changed by --search.
    RecognizerSettings search = RecognizerSettings::chosen();
    // The user's own words (UserWordsFile); unset: the default file in the user's config
    // folder; empty: none.
    std::optional<std::filesystem::path> wordsFile{};
    // Measure the built-in recogniser on the recordings of this folder (EvaluationSet) instead
    // of serving.
    std::filesystem::path evaluateDir;

    std::string upstream;  // base URL of an OpenAI-compatible service; empty: built-in recogniser
    std::string upstreamModel = "whisper-1";
    double upstreamTimeoutSeconds = 60.0;

    // Proxies whose PROXY protocol header names the client of each TCP connection
    // (--trusted-proxy, repeatable); empty: no header is accepted.
    TrustedProxies trustedProxies{};
    // This replica's name among several sharing a data folder: its crash reports go under
    // <dataDir>/crash-reports/<replica>/. Empty: <dataDir>/crash-reports/.
    std::string replica;

    std::size_t crashPerDevice = 20;
    std::uint64_t crashTotalBytes = 256ull * 1024 * 1024;

    std::string chaos;  // empty: no faults
    std::optional<std::uint64_t> chaosSeed;

    bool rotateSecret = false;
    bool help = false;
    bool version = false;

    bool tls() const { return !certFile.empty(); }
    std::filesystem::path crashDir() const;

    // args excludes the program name. defaultDataDir is used unless --data-dir is given.
    static std::optional<ServerOptions> parse(std::span<const std::string_view> args,
                                              const std::filesystem::path& defaultDataDir,
                                              std::string* error);
    static std::string usage();

    // "localhost", 127.0.0.0/8 and ::1.
    static bool isLoopbackHost(std::string_view host);

    // The environment variable holding the bearer key sent to the upstream service.
    static constexpr const char* upstreamKeyVariable = "SAYLOFT_UPSTREAM_API_KEY";
};

}  // namespace sayloft
