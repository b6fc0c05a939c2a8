#pragma once

#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

namespace sayloft {

// Sends one crash report to the service. Called on a worker thread: implementations are
// thread-safe.
class CrashUploader {
public:
    virtual ~CrashUploader() = default;

    // Uploads the report's bytes with the device token and the operating system's version text.
    // Blocks until the service has answered. Returns normally exactly when the service took the
    // report; any failure is an exception (an APIFailure, or another).
    virtual void reportCrash(const std::string& token, std::span<const std::uint8_t> ips,
                             const std::string& osVersion, std::stop_token stop) = 0;
};

}  // namespace sayloft
