#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sayloft {

// An absolute http(s) base URL with no path, query, fragment or credentials, such as the service
// address. Immutable once parsed.
class Url {
public:
    // Accepts "http://host[:port]" or "https://host[:port]", optionally with one trailing slash,
    // which is dropped. Anything else (other schemes, a path, a query, user info) is nullopt.
    static std::optional<Url> parse(std::string_view text);

    const std::string& text() const { return text_; }  // without a trailing slash
    const std::string& scheme() const { return scheme_; }
    const std::string& host() const { return host_; }  // IPv6 literals without brackets
    bool isHttps() const { return scheme_ == "https"; }
    int port() const { return port_; }  // the scheme's default when the text names none

    // True for "localhost", 127.0.0.0/8 and ::1: addresses that never leave this machine.
    bool isLoopback() const;

    // The base with a relative path appended: Url("http://h:1").appending("v1/x") is
    // "http://h:1/v1/x". A leading slash in the path is ignored.
    std::string appending(std::string_view relativePath) const;

    friend bool operator==(const Url&, const Url&) = default;

private:
    Url(std::string text, std::string scheme, std::string host, int port)
        : text_(std::move(text)), scheme_(std::move(scheme)), host_(std::move(host)), port_(port) {}

    std::string text_;
    std::string scheme_;
    std::string host_;
    int port_;
};

}  // namespace sayloft
