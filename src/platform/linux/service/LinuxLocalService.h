#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "core/net/ServiceEndpoint.h"
#include "platform/LocalService.h"

namespace sayloft {

class RunLoop;
struct XdgDirs;

// The user's own sayloft-server, reached where the endpoint says (normally the Unix socket in
// $XDG_RUNTIME_DIR/sayloft, which only this user can open). ensureRunning checks its health on a
// worker thread; when it does not answer, it starts the server: through the systemd user unit
// sayloft-server.service where a user manager runs, otherwise (or when the unit cannot be
// started) as a child process with one decoder, its output appended to the log file. A child
// is stopped when this object is destroyed (SIGTERM, then SIGKILL after a bounded wait) and
// also when Sayloft dies (the kernel sends it SIGTERM). A service run by systemd is left to it.
class LinuxLocalService final : public LocalService {
public:
    struct Options {
        std::filesystem::path serverBinary;  // empty: sayloft-server is not installed
        std::filesystem::path dataDir;       // the child's --data-dir
        std::filesystem::path logFile;       // the child's stdout and stderr, appended
        bool systemd = false;                // try the user unit before a child process
        std::chrono::milliseconds healthWait{10'000};
    };

    // The options for this user: sayloft-server found beside the running program (installed:
    // the same bin/; build tree: ../server/), else on $PATH; the data folder
    // $XDG_DATA_HOME/sayloft-server; the log $XDG_STATE_HOME/Sayloft/server.log; systemd when
    // a user manager runs ($XDG_RUNTIME_DIR/systemd/private) and systemctl is on $PATH.
    static Options forThisUser(const XdgDirs& dirs);

    // The first sayloft-server among the candidates beside executable, then in the folders of
    // pathVariable (colon-separated); empty when none is an executable file.
    static std::filesystem::path findServer(const std::filesystem::path& executable,
                                            const char* pathVariable);

    // endpoint: the service as the client reaches it (ServiceEndpoint::choose).
    LinuxLocalService(RunLoop& runLoop, ServiceEndpoint endpoint, Options options);
    ~LinuxLocalService() override;
    LinuxLocalService(const LinuxLocalService&) = delete;
    LinuxLocalService& operator=(const LinuxLocalService&) = delete;

    bool isLocal() const override;
    void ensureRunning(Done done) override;

    // The child process started by this object and still running, or -1.
    pid_t childPid() const;

private:
    struct Outcome {
        bool ok;
        std::string reason;
    };
    void runWorker(std::function<Outcome(std::stop_token)> work, std::function<void(Outcome)> then);
    void finish(const Outcome& outcome);
    void startChild();
    void waitForChild();
    bool childRunning() const;
    std::string childFailure() const;
    bool waitForHealth(std::stop_token stop, const std::function<bool()>& gaveUp) const;
    void stopChild();

    RunLoop& runLoop_;
    const ServiceEndpoint endpoint_;
    const Options options_;
    std::vector<Done> waiting_;  // callers of ensureRunning while a start is under way
    pid_t child_ = -1;
    std::uintmax_t logOffset_ = 0;  // the log's size when the child started
    std::shared_ptr<bool> alive_;   // false once destroyed: posted work then does nothing
    std::jthread worker_;
};

}  // namespace sayloft
