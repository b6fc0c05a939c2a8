#include "ServerProcess.h"

#include <cstdlib>
#include <regex>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sayloft::test {
namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string readAll(int fd) {
    std::string out;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

std::string& chosenBinary() {
    static std::string path = SAYLOFT_SERVER_BINARY;
    return path;
}

}  // namespace

std::string ServerProcess::binary() {
    return chosenBinary();
}

void ServerProcess::useBinary(std::string path) {
    chosenBinary() = std::move(path);
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sayloft-server-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ServerProcess::ServerProcess(std::vector<std::string> args, bool ownDataDir)
    : ownDataDir_(ownDataDir) {
    if (ownDataDir_) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sayloft-data-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dataDir_ = pattern;
        args.insert(args.begin(), {"--data-dir", dataDir_.string()});
    }
    bool hasPort = false;
    bool hasWords = false;
    for (const auto& a : args) {
        // A server given only --unix-socket listens there alone.
        hasPort = hasPort || a == "--port" || a == "--unix-socket";
        hasWords = hasWords || a == "--words";
    }
    if (!hasPort) {
        args.insert(args.begin(), {"--port", "0"});
    }
    if (!hasWords) {
        // The words of whoever runs the tests would change what is recognised.
        args.insert(args.begin(), {"--words", ""});
    }
    args.insert(args.begin(), binary());

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto argv = argvOf(args);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + binary());
    }
    reader_ = std::thread([this, fd = pipeFds[0]] { readErr(fd); });

    // The model load takes seconds (more under sanitizers); the line says when it is done.
    static const std::regex listening("listening on https?://[^ ]*:([0-9]+)");
    static const std::regex listeningUnix("listening on (.* and )?unix:(.+)$");
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(120), [&] {
        for (const auto& line : lines_) {
            std::smatch match;
            if (std::regex_search(line, match, listeningUnix)) {
                unixSocket_ = match[2].str();
            }
            if (std::regex_search(line, match, listening)) {
                port_ = std::stoi(match[1].str());
            }
            if (port_ > 0 || !unixSocket_.empty()) {
                return true;
            }
        }
        return eof_;
    });
}

void ServerProcess::readErr(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t newline = 0;
        while ((newline = pending.find('\n')) != std::string::npos) {
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(pending.substr(0, newline));
            }
            changed_.notify_all();
            pending.erase(0, newline + 1);
        }
    }
    ::close(fd);
    {
        std::lock_guard lock(mutex_);
        if (!pending.empty()) {
            lines_.push_back(pending);
        }
        eof_ = true;
    }
    changed_.notify_all();
}

void ServerProcess::signal(int number) {
    if (pid_ > 0 && exitStatus_ < 0) {
        ::kill(pid_, number);
    }
}

int ServerProcess::wait(std::chrono::seconds timeout) {
    if (pid_ <= 0 || exitStatus_ >= 0) {
        return exitStatus_;
    }
    // The stderr pipe closes when the process ends; wait for that, then reap.
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return eof_; })) {
            return -1;
        }
    }
    int raw = 0;
    if (::waitpid(pid_, &raw, 0) == pid_) {
        exitStatus_ = statusOf(raw);
    }
    return exitStatus_;
}

int ServerProcess::terminate() {
    signal(SIGTERM);
    return wait(std::chrono::seconds(60));
}

ServerProcess::~ServerProcess() {
    if (exitStatus_ < 0 && terminate() < 0) {
        signal(SIGKILL);
        wait(std::chrono::seconds(30));
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (ownDataDir_) {
        std::error_code ignored;
        std::filesystem::remove_all(dataDir_, ignored);
    }
}

std::vector<std::string> ServerProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string ServerProcess::output() const {
    std::string all;
    for (const auto& line : lines()) {
        all += line + "\n";
    }
    return all;
}

bool ServerProcess::waitForLine(const std::string& text, std::chrono::seconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const auto& line : lines_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    });
}

ServerProcess::Finished ServerProcess::run(const std::vector<std::string>& given) {
    std::vector<std::string> args = given;
    args.insert(args.begin(), binary());
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    auto argv = argvOf(args);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + binary());
    }
    // Outputs are small (usage text); stderr is read after stdout reaches its end.
    Finished finished{};
    finished.out = readAll(out[0]);
    finished.err = readAll(err[0]);
    ::close(out[0]);
    ::close(err[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    finished.status = statusOf(raw);
    return finished;
}

}  // namespace sayloft::test
