#pragma once

#include <functional>
#include <stop_token>

namespace sayloft {

// Runs work off the main thread: each transcription and each ping. Tasks may run concurrently
// with each other. A task reports back only by posting to the RunLoop. When the runner goes away
// it asks every task still running to stop (through the token) and waits for it.
class BackgroundTasks {
public:
    using Task = std::function<void(std::stop_token)>;

    virtual ~BackgroundTasks() = default;

    // Main thread. Starts task and returns at once.
    virtual void run(Task task) = 0;
};

}  // namespace sayloft
