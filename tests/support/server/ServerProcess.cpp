#include "ServerProcess.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sayloft::test {
namespace {

int statusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string readToEnd(int fd) {
    std::string out;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return out;
}

std::string& chosenBinary() {
    static std::string path = SAYLOFT_SERVER_BINARY;
    return path;
}

// Starts the binary with args; the read ends of pipes on its stderr and (when out is given) its
// stdout, which otherwise joins stderr.
pid_t spawn(std::vector<std::string> args, int& err, int* out) {
    args.insert(args.begin(), ServerProcess::binary());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int errPipe[2], outPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0 || (out && ::pipe2(outPipe, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_adddup2(&actions, out ? outPipe[1] : errPipe[1], 1);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errPipe[1]);
    err = errPipe[0];
    if (out) {
        ::close(outPipe[1]);
        *out = outPipe[0];
    }
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    return pid;
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

ServerProcess::ServerProcess(std::vector<std::string> args, bool ownDataDir) {
    if (ownDataDir) {
        dataDir_ = ownData_.emplace().path();
        args.insert(args.begin(), {"--data-dir", dataDir_.string()});
    }
    const auto given = [&args](const char* option) {
        return std::find(args.begin(), args.end(), option) != args.end();
    };
    // A server given only --unix-socket listens there alone.
    if (!given("--port") && !given("--unix-socket")) {
        args.insert(args.begin(), {"--port", "0"});
    }
    if (!given("--words")) {
        // The words of whoever runs the tests would change what is recognised.
        args.insert(args.begin(), {"--words", ""});
    }
    int err = -1;
    pid_ = spawn(std::move(args), err, nullptr);
    reader_ = std::thread([this, err] { readErr(err); });
    // The model load takes seconds (more under sanitizers); the line says when it is done.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(120), [&] { return started() || eof_; });
}

void ServerProcess::addLine(std::string line) {
    static const std::regex listening("listening on https?://[^ ]*:([0-9]+)");
    static const std::regex listeningUnix("listening on (.* and )?unix:(.+)$");
    {
        std::lock_guard lock(mutex_);
        std::smatch match;
        const bool first = !started();  // the addresses are not changed once known
        if (first && std::regex_search(line, match, listeningUnix)) {
            unixSocket_ = match[2].str();
        }
        if (first && std::regex_search(line, match, listening)) {
            port_ = std::stoi(match[1].str());
        }
        lines_.push_back(std::move(line));
    }
    changed_.notify_all();
}

void ServerProcess::readErr(int fd) {
    std::string pending;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            addLine(pending.substr(0, newline));
            pending.erase(0, newline + 1);
        }
    }
    ::close(fd);
    if (!pending.empty()) {
        addLine(pending);
    }
    {
        std::lock_guard lock(mutex_);
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
}

std::string ServerProcess::output() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& line : lines_) {
        all += line + "\n";
    }
    return all;
}

bool ServerProcess::waitForLine(const std::string& text, std::chrono::seconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const auto& line) { return line.find(text) != std::string::npos; });
    });
}

ServerProcess::Finished ServerProcess::run(const std::vector<std::string>& args) {
    int out = -1;
    int err = -1;
    const pid_t pid = spawn(args, err, &out);
    // Outputs are small (usage text); stderr is read after stdout reaches its end.
    Finished finished{0, readToEnd(out), readToEnd(err)};
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    finished.status = statusOf(raw);
    return finished;
}

}  // namespace sayloft::test
