#pragma once

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "app/CrashUploader.h"
#include "fakes/Script.h"

namespace sayloft::test {

// Records every upload and fails those the test scripted to fail, in order (an empty script
// lets every upload succeed).
class FakeCrashUploader final : public CrashUploader {
public:
    struct Upload {
        std::string token;
        std::string ips;
        std::string osVersion;
    };

    void failNext(std::exception_ptr error) { outcomes_.push({error}); }

    std::vector<Upload> uploads() const {
        std::lock_guard lock(mutex_);
        return uploads_;
    }

    void reportCrash(const std::string& token, std::span<const std::uint8_t> ips,
                     const std::string& osVersion, std::stop_token) override {
        {
            std::lock_guard lock(mutex_);
            uploads_.push_back({token, std::string(ips.begin(), ips.end()), osVersion});
        }
        outcomes_.next(true);
    }

private:
    mutable std::mutex mutex_;
    std::vector<Upload> uploads_;
    Script<bool> outcomes_;
};

}  // namespace sayloft::test
