#pragma once

#include "app/CrashUploader.h"
#include "core/net/APIClient.h"

namespace sayloft {

// Crash uploads through the real service client (POST v1/crash, platform "linux"). APIClient is
// thread-safe, so this only forwards.
class APIClientCrashUploader final : public CrashUploader {
public:
    // client must outlive this object.
    explicit APIClientCrashUploader(const APIClient& client) : client_(client) {}

    void reportCrash(const std::string& token, std::span<const std::uint8_t> ips,
                     const std::string& osVersion, std::stop_token stop) override {
        client_.reportCrash(token, ips, osVersion, stop);
    }

private:
    const APIClient& client_;
};

}  // namespace sayloft
