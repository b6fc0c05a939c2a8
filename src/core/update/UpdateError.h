#pragma once

#include <stdexcept>
#include <string>

namespace sayloft {

// Why an update check or download failed. The message names the URL, size or file involved in
// plain words, for the log and the user's window.
class UpdateError : public std::runtime_error {
public:
    enum class Code {
        insecureUrl,   // a feed, package or notes address that is not https://
        unreachable,   // no answer: the network, the server's name, TLS, a time-out
        badAnswer,     // an HTTP answer other than 200
        badFeed,       // the feed is not an RSS document we can read
        wrongLength,   // the package is not exactly the announced size, or is too large
        badSignature,  // the package or its version is not signed by our release key
        storeFailed,   // the verified package could not be written to its folder
        cancelled,     // the application asked the work to stop
    };

    UpdateError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}

    Code code() const { return code_; }

private:
    Code code_;
};

}  // namespace sayloft
