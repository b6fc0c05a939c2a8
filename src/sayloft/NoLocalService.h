#pragma once

#include <string>

#include "platform/LocalService.h"

namespace sayloft {

// Stands in until Sayloft starts the user's own service itself: the configured service is
// treated as one that somebody else runs (scripts/run starts the local one), so the first run
// registers with whatever answers at the address.
class NoLocalService final : public LocalService {
public:
    bool isLocal() const override { return false; }
    void ensureRunning(Done done) override { done(true, {}); }
};

}  // namespace sayloft
