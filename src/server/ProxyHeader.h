#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sayloft {

// The binary PROXY protocol (version 2) header a load balancer such as HAProxy sends first on
// each connection it opens to the service, naming the client it stands for.
//
// Only version 2 is understood; the text form of version 1 ("PROXY TCP4 ...") is refused as
// invalid, since HAProxy's send-proxy-v2 is all the service needs. A PROXY command must name an
// IPv4 or IPv6 stream client: one without a usable address (UNSPEC, UNIX) is refused, since the
// proxy's own address (often loopback, which counts as this computer) would stand in for a
// stranger. A LOCAL command (the proxy's own health check) carries no client.
struct ProxyHeader {
    enum class Status {
        incomplete,  // a valid beginning: wait for `needed` bytes in all
        invalid,     // not a header the service accepts; `reason` says why
        complete,    // `length` bytes form the header; the request follows them
    };

    struct Parsed {
        Status status = Status::incomplete;
        std::size_t needed = fixedBytes;  // incomplete: bytes needed to go on
        std::size_t length = 0;           // complete: the header's size
        bool local = false;               // complete: a LOCAL command, no client named
        std::string clientAddress{};      // complete, not local: numeric text, inet_ntop's
        std::uint16_t clientPort = 0;
        std::string reason{};  // invalid only
    };

    // The signature, version/command, family and length: what must arrive before the length of
    // the rest is known.
    static constexpr std::size_t fixedBytes = 16;
    // The largest header accepted: the addresses of any family and a few TLVs. HAProxy sends
    // none unless told to; a larger header is refused rather than buffered.
    static constexpr std::size_t maxBytes = 512;

    // Reads the header at the start of `bytes` (which may hold what follows it, too).
    static Parsed parse(std::span<const std::uint8_t> bytes);

    // Whether a connection's first bytes (however few) begin like any PROXY header, version 1
    // or 2 (at least the 5 bytes that tell it from HTTP): what an untrusted client must not send.
    static bool looksLikeOne(std::span<const std::uint8_t> bytes);
};

}  // namespace sayloft
