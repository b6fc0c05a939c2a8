#include "platform/linux/service/LinuxLocalService.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/storage/FileIo.h"
#include "core/storage/XdgDirs.h"
#include "platform/RunLoop.h"

extern char** environ;

namespace sayloft {
namespace {

constexpr auto pollInterval = std::chrono::milliseconds(100);
constexpr auto stopWait = std::chrono::seconds(5);
constexpr const char* unitName = "sayloft-server.service";

bool isExecutable(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored) && ::access(path.c_str(), X_OK) == 0;
}

std::filesystem::path onPath(const char* name, const char* pathVariable) {
    std::istringstream folders(pathVariable != nullptr ? pathVariable : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && isExecutable(std::filesystem::path(folder) / name)) {
            return std::filesystem::path(folder) / name;
        }
    }
    return {};
}

// Runs a program to its end with stdin, stdout and stderr on /dev/null; its exit status, or -1.
int runQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for the stop request or the interval, whichever comes first; false on a stop request.
bool pause(std::stop_token stop, std::chrono::milliseconds interval) {
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, stop, interval, [] { return false; });
    return !stop.stop_requested();
}

std::string lastLine(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            last = line;
        }
    }
    return last;
}

}  // namespace

std::filesystem::path LinuxLocalService::findServer(const std::filesystem::path& executable,
                                                    const char* pathVariable) {
    const auto folder = executable.parent_path();
    for (const auto& candidate :
         {folder / "sayloft-server", folder.parent_path() / "server" / "sayloft-server"}) {
        if (!executable.empty() && isExecutable(candidate)) {
            return candidate;
        }
    }
    return onPath("sayloft-server", pathVariable);
}

LinuxLocalService::Options LinuxLocalService::forThisUser(const XdgDirs& dirs) {
    Options options;
    std::error_code ignored;
    options.serverBinary =
        findServer(std::filesystem::read_symlink("/proc/self/exe", ignored), std::getenv("PATH"));
    options.dataDir = dirs.dataHome / "sayloft-server";
    options.logFile = dirs.stateHome / "Sayloft" / "server.log";
    options.systemd = !dirs.runtimeDir.empty() &&
                      std::filesystem::exists(dirs.runtimeDir / "systemd" / "private", ignored) &&
                      !onPath("systemctl", std::getenv("PATH")).empty();
    return options;
}

LinuxLocalService::LinuxLocalService(RunLoop& runLoop, ServiceEndpoint endpoint, Options options)
    : runLoop_(runLoop),
      endpoint_(std::move(endpoint)),
      options_(std::move(options)),
      alive_(std::make_shared<bool>(true)) {
}

LinuxLocalService::~LinuxLocalService() {
    *alive_ = false;
    worker_ = {};  // requests the stop and joins
    stopChild();
}

bool LinuxLocalService::isLocal() const {
    return !endpoint_.url.isHttps() && endpoint_.url.isLoopback();
}

pid_t LinuxLocalService::childPid() const {
    return childRunning() ? child_ : -1;
}

void LinuxLocalService::ensureRunning(Done done) {
    if (!isLocal()) {
        runLoop_.post([done = std::move(done)] { done(true, ""); });
        return;
    }
    waiting_.push_back(std::move(done));
    if (waiting_.size() > 1) {
        return;  // a check or start is under way; its outcome answers this caller too
    }
    const bool viaSystemd = options_.systemd && endpoint_.viaUnixSocket() && !childRunning();
    runWorker(
        [this, viaSystemd](std::stop_token stop) -> Outcome {
            if (ServiceEndpoint::answersHealth(endpoint_, std::chrono::seconds(2))) {
                return {true, ""};
            }
            if (childRunning() || !viaSystemd) {
                return {false, "child"};
            }
            // --no-block: the unit's start is queued; its health is what tells it is up.
            if (runQuietly({"systemctl", "--user", "start", "--no-block", unitName}) != 0) {
                return {false, "child"};
            }
            if (waitForHealth(stop, [] { return false; })) {
                return {true, ""};
            }
            return {false, "the sayloft-server user service did not answer within " +
                               std::to_string(options_.healthWait.count() / 1000) +
                               " s (see: journalctl --user -u sayloft-server)"};
        },
        [this](Outcome outcome) {
            if (outcome.ok || outcome.reason != "child") {
                finish(outcome);
            } else {
                startChild();
            }
        });
}

void LinuxLocalService::waitForChild() {
    runWorker(
        [this](std::stop_token stop) -> Outcome {
            return waitForHealth(stop, [this] { return !childRunning(); })
                       ? Outcome{true, ""}
                       : Outcome{false, childFailure()};
        },
        [this](Outcome outcome) { finish(outcome); });
}

void LinuxLocalService::startChild() {
    if (childRunning()) {
        waitForChild();  // started earlier and not answering yet
        return;
    }
    if (child_ > 0) {
        ::waitpid(child_, nullptr, 0);  // an earlier child that ended: reaped before a new one
        child_ = -1;
    }
    if (options_.serverBinary.empty()) {
        finish({false, "sayloft-server is not installed (looked beside Sayloft and on $PATH)"});
        return;
    }
    std::vector<std::string> args = {options_.serverBinary.string(), "--decoders", "1",
                                     "--data-dir", options_.dataDir.string()};
    if (endpoint_.viaUnixSocket()) {
        args.insert(args.end(), {"--unix-socket", endpoint_.unixSocket.string()});
    } else {
        args.insert(args.end(), {"--host", endpoint_.url.host(), "--port",
                                 std::to_string(endpoint_.url.port())});
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    FileIo::makeFolders(options_.logFile.parent_path());
    const int log =
        ::open(options_.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || devNull < 0) {
        if (log >= 0)
            ::close(log);
        if (devNull >= 0)
            ::close(devNull);
        finish({false, "cannot write the service log " + options_.logFile.string()});
        return;
    }
    struct stat info {};
    logOffset_ = ::fstat(log, &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
    // Forked here, on the main thread, which lives as long as Sayloft: the kernel sends the
    // child SIGTERM when the thread that forked it ends.
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(1);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(devNull, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log);
    ::close(devNull);
    if (pid < 0) {
        finish({false, "cannot start sayloft-server (fork failed)"});
        return;
    }
    child_ = pid;
    waitForChild();
}

bool LinuxLocalService::childRunning() const {
    if (child_ <= 0) {
        return false;
    }
    siginfo_t info{};
    // WNOWAIT: looks without reaping, so that the process stays ours to wait for.
    return ::waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

std::string LinuxLocalService::childFailure() const {
    if (childRunning()) {
        return "sayloft-server did not answer within " +
               std::to_string(options_.healthWait.count() / 1000) +
               " s (log: " + options_.logFile.string() + ")";
    }
    std::string tail;
    if (const auto text = FileIo::read(options_.logFile); text && text->size() > logOffset_) {
        tail = lastLine(text->substr(logOffset_));
    }
    return "sayloft-server stopped" + (tail.empty() ? std::string() : ": " + tail);
}

bool LinuxLocalService::waitForHealth(std::stop_token stop,
                                      const std::function<bool()>& gaveUp) const {
    const auto deadline = std::chrono::steady_clock::now() + options_.healthWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ServiceEndpoint::answersHealth(endpoint_, std::chrono::seconds(1))) {
            return true;
        }
        if (gaveUp() || !pause(stop, pollInterval)) {
            return false;
        }
    }
    return false;
}

void LinuxLocalService::runWorker(std::function<Outcome(std::stop_token)> work,
                                  std::function<void(Outcome)> then) {
    worker_ = std::jthread([this, alive = alive_, work = std::move(work),
                            then = std::move(then)](std::stop_token stop) mutable {
        Outcome outcome = work(stop);
        if (stop.stop_requested()) {
            return;
        }
        runLoop_.post([alive, outcome = std::move(outcome), then = std::move(then)] {
            if (*alive) {
                then(outcome);
            }
        });
    });
}

void LinuxLocalService::finish(const Outcome& outcome) {
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& done : waiting) {
        done(outcome.ok, outcome.reason);
    }
}

void LinuxLocalService::stopChild() {
    if (child_ <= 0) {
        return;
    }
    ::kill(child_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopWait;
    int status = 0;
    while (::waitpid(child_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    child_ = -1;
}

}  // namespace sayloft
