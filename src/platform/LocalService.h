#pragma once

#include <functional>
#include <string>

namespace sayloft {

// The user's own transcription service on this computer (sayloft-server), started on demand
// when the configured service is the local default and nothing of this user's answers. Main
// thread only.
class LocalService {
public:
    // ok: the service answers its health check. reason: when !ok, one line for the user saying
    // what happened (not installed, did not start, did not answer in time).
    using Done = std::function<void(bool ok, const std::string& reason)>;

    virtual ~LocalService() = default;

    // Whether the configured service is the local one that this can start.
    virtual bool isLocal() const = 0;

    // Makes sure the user's own service answers, starting it when it does not; done runs later
    // on the main thread, at the latest after a bounded wait (10 s). Never blocks the caller.
    // A service that is not local is left alone: done(true, "") at once.
    virtual void ensureRunning(Done done) = 0;
};

}  // namespace sayloft
