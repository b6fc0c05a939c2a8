#include "ChildProcess.h"

#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sayloft::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           bool captureOutput) {
    int pipeFds[2] = {-1, -1};
    if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        for (const auto& [name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (captureOutput) {
            dup2(pipeFds[1], STDOUT_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (captureOutput) {
        close(pipeFds[1]);
        output_ = pipeFds[0];
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) {
        close(output_);
    }
}

std::optional<std::string> ChildProcess::finish(std::chrono::milliseconds limit) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string out;
    while (output_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{output_, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) {
            close(output_);
            output_ = -1;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        pollfd none{-1, 0, 0};
        poll(&none, 0, 5);  // the output is closed; the exit follows at once
    }
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> runProgram(const std::vector<std::string>& argv) {
    ChildProcess process(argv, {}, true);
    return process.finish();
}

}  // namespace sayloft::test
