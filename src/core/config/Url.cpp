#include "core/config/Url.h"

#include <memory>

#include <arpa/inet.h>
#include <curl/curl.h>

namespace sayloft {
namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

// Reads one part of a parsed URL; nullopt when the part is absent.
std::optional<std::string> part(CURLU* handle, CURLUPart which, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(handle, which, &raw, flags) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<char, CurlStringDeleter> owned(raw);
    return std::string(raw);
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    std::string input(text);
    if (input.empty() || input.find_first_of(" \t\r\n") != std::string::npos) {
        return std::nullopt;
    }
    std::unique_ptr<CURLU, UrlHandleDeleter> handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, input.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    const auto scheme = part(handle.get(), CURLUPART_SCHEME);
    const auto host = part(handle.get(), CURLUPART_HOST);
    const auto path = part(handle.get(), CURLUPART_PATH);
    if (!scheme || (*scheme != "http" && *scheme != "https") || !host || host->empty()) {
        return std::nullopt;
    }
    if (part(handle.get(), CURLUPART_QUERY) || part(handle.get(), CURLUPART_FRAGMENT) ||
        part(handle.get(), CURLUPART_USER) || (path && *path != "/")) {
        return std::nullopt;
    }
    // libcurl accepts "http:/host" and similar; insist on the spelled-out authority.
    if (input.rfind(*scheme + "://", 0) != 0) {
        return std::nullopt;
    }
    if (input.back() == '/') {
        input.pop_back();
    }
    std::string bareHost = *host;
    if (bareHost.size() > 2 && bareHost.front() == '[' && bareHost.back() == ']') {
        bareHost = bareHost.substr(1, bareHost.size() - 2);
    }
    const auto port = part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return Url(std::move(input), *scheme, std::move(bareHost), port ? std::stoi(*port) : 0);
}

bool Url::isLoopback() const {
    if (host_ == "localhost") {
        return true;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host_.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host_.c_str(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6);
    }
    return false;
}

std::string Url::appending(std::string_view relativePath) const {
    while (!relativePath.empty() && relativePath.front() == '/') {
        relativePath.remove_prefix(1);
    }
    std::string result = text_;
    result += '/';
    result += relativePath;
    return result;
}

}  // namespace sayloft
