#include "HttpAnswer.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace sayloft::bench {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// A chunked body starting at `at`: the decoded body and the offset after it, or nullopt while
// incomplete (trailers are skipped).
std::optional<std::size_t> readChunked(std::string_view bytes, std::size_t at, std::string& body) {
    for (;;) {
        const auto lineEnd = bytes.find("\r\n", at);
        if (lineEnd == std::string_view::npos) {
            return std::nullopt;
        }
        std::size_t size = 0;
        std::from_chars(bytes.data() + at, bytes.data() + lineEnd, size, 16);
        at = lineEnd + 2;
        if (size == 0) {
            const auto end = bytes.find("\r\n\r\n", lineEnd);
            if (bytes.compare(at, 2, "\r\n") == 0) {
                return at + 2;
            }
            return end == std::string_view::npos ? std::nullopt : std::optional(end + 4);
        }
        if (bytes.size() < at + size + 2) {
            return std::nullopt;
        }
        body.append(bytes.substr(at, size));
        at += size + 2;
    }
}

}  // namespace

std::string HttpAnswer::header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

std::optional<HttpAnswer::Parsed> HttpAnswer::parse(std::string_view bytes) {
    if (bytes.size() >= 5 && bytes.substr(0, 5) != "HTTP/") {
        return std::nullopt;
    }
    const auto headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        return std::nullopt;
    }
    Parsed parsed;
    HttpAnswer& answer = parsed.answer;
    const auto statusLineEnd = bytes.find("\r\n");
    const auto space = bytes.find(' ');
    if (space == std::string_view::npos || space > statusLineEnd) {
        return std::nullopt;
    }
    std::from_chars(bytes.data() + space + 1, bytes.data() + statusLineEnd, answer.status);
    for (std::size_t at = statusLineEnd + 2; at < headEnd;) {
        const auto lineEnd = bytes.find("\r\n", at);
        const auto line = bytes.substr(at, lineEnd - at);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            answer.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        }
        at = lineEnd + 2;
    }
    const std::size_t bodyStart = headEnd + 4;
    if (lower(answer.header("transfer-encoding")).find("chunked") != std::string::npos) {
        const auto end = readChunked(bytes, bodyStart, answer.body);
        if (!end) {
            return std::nullopt;
        }
        parsed.consumed = *end;
        return parsed;
    }
    std::size_t length = 0;
    const std::string lengthText = answer.header("content-length");
    std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
    if (bytes.size() < bodyStart + length) {
        return std::nullopt;
    }
    answer.body = bytes.substr(bodyStart, length);
    parsed.consumed = bodyStart + length;
    return parsed;
}

}  // namespace sayloft::bench
