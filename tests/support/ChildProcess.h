#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sayloft::test {

// A program run for a test, in a process group of its own that is killed (whatever it started
// included) when the object goes. Standard output is captured when asked for.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& environment = {},
                 bool captureOutput = false);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the program to end; its standard output (when captured), nullopt when it does
    // not end within the limit or fails.
    std::optional<std::string> finish(std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// The output of a program run to its end, nullopt when it fails or hangs.
std::optional<std::string> runProgram(const std::vector<std::string>& argv);

}  // namespace sayloft::test
