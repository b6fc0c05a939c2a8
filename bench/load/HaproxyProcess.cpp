#include "HaproxyProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "WellBehavedClient.h"

extern char** environ;

namespace sayloft::bench {
namespace {

// A port the kernel had free a moment ago (HAProxy binds it right after).
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool HaproxyProcess::available() {
    return std::system("haproxy -v >/dev/null 2>&1") == 0;
}

HaproxyProcess::HaproxyProcess(const std::string& config, const std::vector<int>& replicaPorts)
    : port_(freePort()),
      log_((std::filesystem::temp_directory_path() /
            ("sayloft-load-haproxy-" + std::to_string(::getpid()) + ".log"))
               .string()) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string_view(*e).rfind("SAYLOFT_", 0) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("SAYLOFT_BENCH_PORT=" + std::to_string(port_));
    for (std::size_t i = 0; i < replicaPorts.size(); ++i) {
        env.push_back("SAYLOFT_REPLICA" + std::to_string(i + 1) +
                      "_PORT=" + std::to_string(replicaPorts[i]));
    }
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = {"haproxy", "-db", "-f", config};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::posix_spawnp(&pid_, "haproxy", &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

HaproxyProcess::~HaproxyProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove(log_, ignored);
}

bool HaproxyProcess::ready(std::string& error) {
    if (pid_ <= 0 || port_ == 0) {
        error = "cannot start haproxy";
        return false;
    }
    // Registration goes to one replica and needs no decoder: its 200 through the proxy shows
    // the front end is bound and a back end is up; the first health checks follow within 1 s,
    // and waiting for them puts every replica in the rotation before the clients start.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "haproxy stopped:\n" + readFile(log_);
            return false;
        }
        if (WellBehavedClient::registerToken(port_, WellBehavedClient::address)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error = "haproxy did not answer on port " + std::to_string(port_) + ":\n" + readFile(log_);
    return false;
}

}  // namespace sayloft::bench
