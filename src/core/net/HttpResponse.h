#pragma once

#include <string>

namespace sayloft {

// What came back for one request. status is the HTTP status code; 0 stands for an answer that was
// not an HTTP response (the client treats it as such).
struct HttpResponse {
    long status = 0;
    std::string body;
    // The Server-Timing header's value (how the service spent its time), empty without one.
    std::string serverTiming{};

    bool isHttp() const { return status >= 100; }
};

}  // namespace sayloft
