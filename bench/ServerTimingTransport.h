#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "core/net/HttpTransport.h"

namespace sayloft::bench {

// Passes requests on to a real transport and keeps the recognition time the service reported
// in the last answer's Server-Timing header ("recognize;dur=123.4"), in milliseconds; negative
// when the answer had none.
class ServerTimingTransport final : public HttpTransport {
public:
    explicit ServerTimingTransport(std::unique_ptr<HttpTransport> inner)
        : inner_(std::move(inner)) {}

    HttpResponse perform(const HttpRequest& request, std::stop_token stop) override {
        HttpResponse response = inner_->perform(request, stop);
        recognitionMs_ = -1;
        const std::string key = "recognize;dur=";
        if (const auto at = response.serverTiming.find(key); at != std::string::npos) {
            recognitionMs_ = std::strtod(response.serverTiming.c_str() + at + key.size(), nullptr);
        }
        return response;
    }

    double recognitionMs() const { return recognitionMs_; }

private:
    std::unique_ptr<HttpTransport> inner_;
    double recognitionMs_ = -1;
};

}  // namespace sayloft::bench
