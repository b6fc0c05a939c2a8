#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace sayloft::test {

// A fresh empty folder under the system's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A real sayloft-server child process on 127.0.0.1 and a free port (or only on the Unix socket
// that --unix-socket names), with its own temporary data folder (unless the arguments name one)
// and without the words file of whoever runs the tests (unless they give --words).
// Its stderr is read line by line on a thread; start-up waits for the "listening on" line, never
// for a fixed time.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> args, bool ownDataDir = true);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return port_ > 0 || !unixSocket_.empty(); }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path& unixSocket() const { return unixSocket_; }
    const std::filesystem::path& dataDir() const { return dataDir_; }

    // Sends SIGTERM and waits for the exit; the exit status (or 128 + signal).
    int terminate();
    void signal(int number);
    // Waits for the process to end by itself; the exit status, or -1 after the timeout.
    int wait(std::chrono::seconds timeout);

    // Every stderr line so far, and a wait for one that contains `text`.
    std::string output() const;
    bool waitForLine(const std::string& text, std::chrono::seconds timeout) const;

    // Runs the binary to its end (for --help, bad options): exit status and both outputs.
    struct Finished {
        int status;
        std::string out;
        std::string err;
    };
    static Finished run(const std::vector<std::string>& args);

    // The program started: the build tree's sayloft-server unless useBinary named another.
    static std::string binary();
    static void useBinary(std::string path);

private:
    void readErr(int fd);
    void addLine(std::string line);  // parses the "listening on" line

    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path unixSocket_;
    int exitStatus_ = -1;
    std::optional<TempDir> ownData_;
    std::filesystem::path dataDir_;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool eof_ = false;
};

}  // namespace sayloft::test
