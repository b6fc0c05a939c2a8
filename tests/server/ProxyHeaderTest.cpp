#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "server/ProxyHeader.h"

namespace sayloft {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Status = ProxyHeader::Status;

const Bytes signature{0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A version 2 header: command byte, family byte, then `rest` (its length is filled in).
Bytes header(std::uint8_t command, std::uint8_t family, const Bytes& rest) {
    const auto size = static_cast<std::uint16_t>(rest.size());
    return signature +
           Bytes{command, family, static_cast<std::uint8_t>(size >> 8),
                 static_cast<std::uint8_t>(size & 0xFF)} +
           rest;
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes prefix(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

// 203.0.113.7:51000 -> 127.0.0.1:8177
const Bytes inet{203, 0, 113, 7, 127, 0, 0, 1, 0xC7, 0x38, 0x1F, 0xF1};
// 2001:db8::5:51000 -> ::1:8177
const Bytes inet6 = Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5} +
                    Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1} +
                    Bytes{0xC7, 0x38, 0x1F, 0xF1};
const Bytes request = text("GET /health HTTP/1.1\r\n\r\n");

TEST(ProxyHeader, ReadsTheClientOrRefusesWithAReason) {
    struct Row {
        const char* what;
        Bytes bytes;
        Status status;
        std::size_t length;  // complete: the header's size; incomplete: bytes needed
        std::string client;  // complete: the client address, "local" for LOCAL; invalid: reason
    };
    const Row rows[] = {
        {"IPv4, request behind", header(0x21, 0x11, inet) + request, Status::complete, 28,
         "203.0.113.7"},
        {"IPv6", header(0x21, 0x21, inet6), Status::complete, 52, "2001:db8::5"},
        {"LOCAL health check", header(0x20, 0x00, {}), Status::complete, 16, "local"},
        {"LOCAL ignores addresses", header(0x20, 0x11, inet), Status::complete, 28, "local"},
        {"nothing yet", {}, Status::incomplete, 16, ""},
        {"addresses truncated", prefix(header(0x21, 0x11, inet), 20), Status::incomplete, 28, ""},
        {"bad signature", prefix(signature, 8) + text("UIZ\n    ") + inet, Status::invalid, 0,
         "signature"},
        {"version 1 text", text("PROXY TCP4 203.0.113.7 127.0.0.1 51000 8177\r\n"), Status::invalid,
         0, "version 1"},
        {"version 3", header(0x31, 0x11, inet), Status::invalid, 0, "version 3"},
        {"unknown command", header(0x22, 0x11, inet), Status::invalid, 0, "command"},
        {"oversized TLVs", header(0x21, 0x11, inet + Bytes(600, 0)), Status::invalid, 0,
         "exceeds the limit"},
        {"oversized, not yet arrived", Bytes{signature} + Bytes{0x21, 0x11, 0xFF, 0xFF},
         Status::invalid, 0, "exceeds the limit"},
        {"address shorter than its family", header(0x21, 0x21, inet), Status::invalid, 0,
         "too short"},
        {"UNSPEC client", header(0x21, 0x00, {}), Status::invalid, 0, "without a client"},
        {"UNIX client", header(0x21, 0x31, Bytes(216, 0)), Status::invalid, 0, "not TCP"},
    };
    for (const Row& row : rows) {
        const auto parsed = ProxyHeader::parse(row.bytes);
        EXPECT_EQ(parsed.status, row.status) << row.what;
        if (row.status == Status::complete) {
            EXPECT_EQ(parsed.length, row.length) << row.what;
            EXPECT_EQ(parsed.local ? "local" : parsed.clientAddress, row.client) << row.what;
        } else if (row.status == Status::incomplete) {
            EXPECT_EQ(parsed.needed, row.length) << row.what;
        } else {
            EXPECT_NE(parsed.reason.find(row.client), std::string::npos)
                << row.what << ": " << parsed.reason;
        }
    }
    EXPECT_EQ(ProxyHeader::parse(header(0x21, 0x11, inet)).clientPort, 51000);
}

TEST(ProxyHeader, TellsAHeaderFromARequestByItsFirstBytes) {
    const std::pair<Bytes, bool> rows[] = {
        {header(0x21, 0x11, inet), true},
        {prefix(signature, 5), true},
        {text("PROXY TCP4 "), true},
        {prefix(signature, 4), false},  // could be blank lines
        {text("POST /v1/register HTTP/1.1"), false},
        {Bytes{0x16, 0x03, 0x01}, false},  // a TLS hello
    };
    for (const auto& [bytes, expected] : rows) {
        EXPECT_EQ(ProxyHeader::looksLikeOne(bytes), expected)
            << std::string(bytes.begin(), bytes.end());
    }
}

}  // namespace
}  // namespace sayloft
