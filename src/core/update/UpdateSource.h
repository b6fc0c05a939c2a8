#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

#include "core/update/AppcastItem.h"

namespace sayloft {

// Where releases come from: the update controller's view of UpdateClient. Both calls block and
// are made on a worker thread; failures are thrown as UpdateError.
class UpdateSource {
public:
    virtual ~UpdateSource() = default;

    // The newest release above the running version, or nullopt when this one is the newest.
    virtual std::optional<AppcastItem> check(std::stop_token stop) = 0;

    // The verified package of this release, stored privately; returns its file.
    virtual std::filesystem::path download(const AppcastItem& item, std::stop_token stop) = 0;
};

}  // namespace sayloft
