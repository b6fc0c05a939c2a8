#pragma once

#include <stdexcept>
#include <string>

namespace sayloft {

// A request that produced no HTTP response. Thrown by HttpTransport::perform; the client
// classifies it (APIClient::shouldRetry) and never passes it on to its own callers.
class TransportError : public std::runtime_error {
public:
    enum class Code {
        // The eight connectivity failures: a missing or broken connection. Not retried.
        notConnectedToInternet,   // no route to any network (ENETUNREACH, ENETDOWN)
        networkConnectionLost,    // the connection dropped during the request
        cannotFindHost,           // the host name does not resolve
        dnsLookupFailed,          // the name lookup itself failed
        cannotConnectToHost,      // refused, or the connection could not be opened
        timedOut,                 // a transport time-out (idle or total)
        internationalRoamingOff,  // never produced on Linux; kept for the classification
        dataNotAllowed,           // the system forbids traffic (EACCES/EPERM from a firewall)
        // Other failures. Retried once by the retrying send.
        secureConnectionFailed,  // TLS handshake or certificate verification failed
        cancelled,               // the caller asked the request to stop
        badURL,                  // malformed URL or a scheme other than http(s)
        badServerResponse,       // the server answered something that is not HTTP
        responseTooLarge,        // the answer exceeded the transport's size limit
        unknown,                 // anything else
    };

    TransportError(Code code, const std::string& detail)
        : std::runtime_error(detail), code_(code) {}

    Code code() const { return code_; }

    // True for the eight connectivity codes.
    bool isConnectivityFailure() const { return code_ <= Code::dataNotAllowed; }

private:
    Code code_;
};

}  // namespace sayloft
