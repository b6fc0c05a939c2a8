#include "server/MultipartForm.h"

#include <algorithm>
#include <cctype>

namespace sayloft {
namespace {

constexpr std::string_view crlf = "\r\n";

bool fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return false;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The value of parameter `name` in "type; a=1; b=\"two\"", unquoted (no escapes inside quotes:
// browsers and curl percent-encode instead), or nullopt.
std::optional<std::string_view> parameter(std::string_view header, std::string_view name) {
    std::size_t at = header.find(';');
    while (at != std::string_view::npos) {
        std::string_view rest = trim(header.substr(at + 1));
        const auto equals = rest.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = trim(rest.substr(0, equals));
        rest = trim(rest.substr(equals + 1));
        std::string_view value;
        std::size_t consumed = 0;
        if (rest.starts_with('"')) {
            const auto close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            value = rest.substr(1, close - 1);
            consumed = close + 1;
        } else {
            consumed = std::min(rest.find(';'), rest.size());
            value = trim(rest.substr(0, consumed));
        }
        if (equalsNoCase(key, name)) {
            return value;
        }
        const auto next = rest.find(';', consumed);
        at = next == std::string_view::npos
                 ? std::string_view::npos
                 : static_cast<std::size_t>(rest.data() + next - header.data());
    }
    return std::nullopt;
}

// Where the next delimiter line begins at or after `from`: the delimiter followed by "--" or by
// optional padding and a line break (the boundary followed by anything else is content).
std::size_t delimiterAt(std::string_view body, std::string_view delimiter, std::size_t from) {
    for (auto at = body.find(delimiter, from); at != std::string_view::npos;
         at = body.find(delimiter, at + 1)) {
        std::string_view after = body.substr(at + delimiter.size());
        if (after.starts_with("--")) {
            return at;
        }
        while (!after.empty() && (after.front() == ' ' || after.front() == '\t')) {
            after.remove_prefix(1);
        }
        if (after.starts_with(crlf)) {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<std::string> MultipartForm::boundaryOf(std::string_view contentType,
                                                     std::string* error) {
    const auto boundary = parameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 70) {
        fail(error, "the multipart/form-data body names no usable boundary");
        return std::nullopt;
    }
    return std::string(*boundary);
}

std::optional<MultipartForm> MultipartForm::parse(std::string_view body, std::string_view boundary,
                                                  const Limits& limits, std::string* error) {
    const std::string delimiter = "--" + std::string(boundary);
    // The first delimiter opens the body or a line (what comes before it is a preamble).
    std::size_t at = body.starts_with(delimiter) ? 0 : body.find("\r\n" + delimiter);
    if (at == std::string_view::npos) {
        fail(error, "the form does not hold its boundary");
        return std::nullopt;
    }
    at += body.starts_with(delimiter) ? delimiter.size() : crlf.size() + delimiter.size();
    MultipartForm form;
    const std::string nextDelimiter = "\r\n" + delimiter;
    for (;;) {
        const std::string_view rest = body.substr(at);
        if (rest.starts_with("--")) {
            return form;  // the closing delimiter; an epilogue after it is ignored
        }
        // Transport padding, then the line break that ends the delimiter line.
        const auto lineEnd = rest.find(crlf);
        if (lineEnd == std::string_view::npos || trim(rest.substr(0, lineEnd)).size() != 0) {
            fail(error, "the form ends before its closing delimiter");
            return std::nullopt;
        }
        if (form.parts_.size() == limits.maxParts) {
            fail(error, "the form has more than " + std::to_string(limits.maxParts) + " parts");
            return std::nullopt;
        }
        const std::size_t headersBegin = at + lineEnd + crlf.size();
        // Searched only as far as the header limit allows (from the line break before them, so
        // that a part without header lines is found too).
        const std::size_t searchBegin = headersBegin - crlf.size();
        const auto found =
            body.substr(searchBegin, limits.maxPartHeaderBytes + 2 * crlf.size()).find("\r\n\r\n");
        if (found == std::string_view::npos) {
            fail(error, body.size() - searchBegin > limits.maxPartHeaderBytes + 2 * crlf.size()
                            ? "a part of the form has too many header bytes"
                            : "a part of the form has no end of its headers");
            return std::nullopt;
        }
        const std::size_t headersEnd = searchBegin + found;
        Part part;
        bool disposed = false;
        std::string_view headers =
            body.substr(headersBegin, headersEnd + crlf.size() - headersBegin);
        while (!headers.empty()) {
            const auto end = headers.find(crlf);
            const std::string_view line = headers.substr(0, end);
            headers.remove_prefix(std::min(headers.size(), end + crlf.size()));
            const auto colon = line.find(':');
            if (colon == std::string_view::npos) {
                fail(error, "a part of the form has a malformed header line");
                return std::nullopt;
            }
            const std::string_view value = trim(line.substr(colon + 1));
            if (!equalsNoCase(trim(line.substr(0, colon)), "Content-Disposition")) {
                continue;
            }
            const auto name = parameter(value, "name");
            if (!equalsNoCase(trim(value.substr(0, value.find(';'))), "form-data") || !name ||
                name->empty()) {
                fail(error, "a part of the form is not form-data with a name");
                return std::nullopt;
            }
            part.name = *name;
            part.filename = parameter(value, "filename").value_or(std::string_view());
            disposed = true;
        }
        if (!disposed) {
            fail(error, "a part of the form has no Content-Disposition");
            return std::nullopt;
        }
        const std::size_t contentBegin = headersEnd + 2 * crlf.size();
        const auto contentEnd = delimiterAt(body, nextDelimiter, contentBegin);
        if (contentEnd == std::string_view::npos) {
            fail(error, "the form ends before its closing delimiter");
            return std::nullopt;
        }
        part.content = body.substr(contentBegin, contentEnd - contentBegin);
        form.parts_.push_back(part);
        at = contentEnd + nextDelimiter.size();
    }
}

const MultipartForm::Part* MultipartForm::find(std::string_view name) const {
    const auto found =
        std::find_if(parts_.begin(), parts_.end(), [&](const Part& p) { return p.name == name; });
    return found == parts_.end() ? nullptr : &*found;
}

}  // namespace sayloft
