#include "platform/linux/crash/CrashHandler.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string_view>
#include <typeinfo>

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/diagnostics/SafeToReport.h"
#include "core/storage/FileIo.h"
#include "platform/linux/crash/FixedText.h"
#include "platform/linux/crash/UtcDateTime.h"

namespace sayloft {
namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Prepared by install, read by the handlers.
FixedText<PATH_MAX> folderPrefix;  // "<folder>/<appName>-"
FixedText<64> logPrefix;           // "<appname>: " for the line on standard error
FixedText<2048> headerStart;       // {"app_name":"...","app_version":"...","os_version":"..."

// The thread (its kernel id) that is writing or has written the report; 0 while none.
std::atomic<pid_t> reportingThread{0};
std::atomic<bool> reportDone{false};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

// Big enough for the handler, the stack unwinder and backtrace_symbols_fd.
constexpr std::size_t altStackSize = 128 * 1024;
alignas(16) char altStack[altStackSize];

pid_t currentThread() noexcept {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

void writeAll(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

template <std::size_t N>
void appendJsonString(FixedText<N>& out, std::string_view text) noexcept {
    constexpr char hex[] = "0123456789abcdef";
    out.append("\"");
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append("\\").append(std::string_view(&c, 1));
        } else if (byte < 0x20 || byte == 0x7f) {
            const char escaped[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]};
            out.append(std::string_view(escaped, sizeof escaped));
        } else {
            out.append(std::string_view(&c, 1));
        }
    }
    out.append("\"");
}

const char* signalName(int signal) noexcept {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "unknown signal";
    }
}

// true for the one thread that is to write the report. Another thread that crashes meanwhile
// waits a little for the report to be finished before its own signal ends the process.
bool claimReport() noexcept {
    const pid_t self = currentThread();
    pid_t expected = 0;
    if (reportingThread.compare_exchange_strong(expected, self)) {
        return true;
    }
    if (expected != self) {
        for (int i = 0; i < 200 && !reportDone.load(); ++i) {
            const timespec tenMilliseconds{0, 10'000'000};
            ::nanosleep(&tenMilliseconds, nullptr);
        }
    }
    return false;
}

template <std::size_t N>
void appendDateTime(FixedText<N>& out, const UtcDateTime& time, bool forFileName) noexcept {
    out.appendDecimal(static_cast<std::uint64_t>(time.year), 4)
        .append("-")
        .appendDecimal(static_cast<std::uint64_t>(time.month), 2)
        .append("-")
        .appendDecimal(static_cast<std::uint64_t>(time.day), 2)
        .append(forFileName ? "-" : "T")
        .appendDecimal(static_cast<std::uint64_t>(time.hour), 2)
        .append(forFileName ? "" : ":")
        .appendDecimal(static_cast<std::uint64_t>(time.minute), 2)
        .append(forFileName ? "" : ":")
        .appendDecimal(static_cast<std::uint64_t>(time.second), 2);
}

// A new report file; a crash of another process in the same second gets a numbered name.
int createReport(const UtcDateTime& time, FixedText<PATH_MAX>& path) noexcept {
    for (int attempt = 0; attempt < 10; ++attempt) {
        path.clear();
        path.append(folderPrefix.view());
        appendDateTime(path, time, true);
        if (attempt > 0) {
            path.append("-").appendDecimal(static_cast<std::uint64_t>(attempt));
        }
        path.append(".ips");
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// One symbol line of backtrace_symbols_fd ("<object path>(<symbol>+<offset>) [<address>]"),
// written with the object's file name instead of its path: the path may name the user's home.
void writeFrame(int reportFd, int pipeRead, int pipeWrite, void* frame, int index) noexcept {
    FixedText<4096> line;
    line.appendDecimal(static_cast<std::uint64_t>(index)).append("  ");
    const std::size_t prefix = line.size();
    ::backtrace_symbols_fd(&frame, 1, pipeWrite);
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(pipeRead, chunk, sizeof chunk);
        if (got <= 0) {
            break;  // drained (the pipe does not block)
        }
        line.append(std::string_view(chunk, static_cast<std::size_t>(got)));
    }
    std::string_view symbol = line.view().substr(prefix);
    const std::size_t address = symbol.rfind('[');
    const std::size_t lastSlash = symbol.substr(0, address).rfind('/');
    if (lastSlash != std::string_view::npos) {
        symbol.remove_prefix(lastSlash + 1);
    }
    writeAll(reportFd, line.view().substr(0, prefix));
    writeAll(reportFd, symbol);
    if (symbol.empty() || symbol.back() != '\n') {
        writeAll(reportFd, "\n");
    }
}

// Writes the report: the header with the crash's own fields, then the stack of this thread.
// Async-signal-safe. cause names the crash on standard error.
template <std::size_t N>
void writeReport(const FixedText<N>& fields, std::string_view cause) noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const UtcDateTime time = UtcDateTime::fromUnixSeconds(now.tv_sec);

    FixedText<PATH_MAX> path;
    const int fd = createReport(time, path);
    FixedText<PATH_MAX + 256> message;
    message.append(logPrefix.view()).append("crashed (").append(cause).append(")");
    if (fd < 0) {
        writeAll(STDERR_FILENO, message.append("; no crash report could be written\n").view());
        return;
    }

    FixedText<4096> header;
    header.append(headerStart.view()).append(",").append(fields.view()).append(",\"timestamp\":\"");
    appendDateTime(header, time, false);
    header.append("Z\"}\n");
    writeAll(fd, header.view());

    void* frames[CrashHandler::maxFrames];
    const int count = ::backtrace(frames, CrashHandler::maxFrames);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0) {
        for (int i = 0; i < count; ++i) {
            writeFrame(fd, pipeFds[0], pipeFds[1], frames[i], i);
        }
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    }
    ::close(fd);
    writeAll(STDERR_FILENO,
             message.append("; crash report: ").append(path.view()).append("\n").view());
}

void onFatalSignal(int signal, siginfo_t*, void*) {
    const int savedErrno = errno;
    if (claimReport()) {
        FixedText<64> fields;
        fields.append("\"signal\":");
        appendJsonString(fields, signalName(signal));
        writeReport(fields, signalName(signal));
        reportDone.store(true);
    }
    // Die as the process would have without this handler: the default action of the same signal,
    // delivered when the handler returns (a fault that repeats its instruction faults again).
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

// Not a signal handler: allocating is allowed here (the type's name is demangled), but the report
// is still written with the signal-safe writer.
[[noreturn]] void onTerminate() noexcept {
    if (claimReport()) {
        FixedText<2048> fields;
        FixedText<512> cause;
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            const std::string_view typeName = demangled != nullptr && status == 0
                                                  ? std::string_view(demangled)
                                                  : std::string_view(type->name());
            fields.append("\"exception_type\":");
            appendJsonString(fields, typeName);
            cause.append("uncaught exception ").append(typeName);
            std::free(demangled);
            try {
                throw;
            } catch (const SafeToReport& error) {
                fields.append(",\"exception_reason\":");
                appendJsonString(fields, error.what());
            } catch (...) {
                // Any other message may hold user data: only the type is told.
            }
        } else {
            fields.append("\"exception_type\":\"\"");
            cause.append("std::terminate without an exception");
        }
        writeReport(fields, cause.view());
        reportDone.store(true);
    }
    std::abort();  // SIGABRT: the report is written, the signal handler writes no second one
}

}  // namespace

bool CrashHandler::install(const std::filesystem::path& folder, const Identity& identity) {
    if (!FileIo::makeFolders(folder, true)) {
        return false;
    }
    const std::string prefix = (folder / (identity.appName + "-")).string();
    // Room for the date, a number and ".ips".
    if (prefix.size() + 32 >= PATH_MAX) {
        return false;
    }
    folderPrefix.clear();
    folderPrefix.append(prefix);
    logPrefix.clear();
    for (const char c : identity.appName) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        logPrefix.append(std::string_view(&lower, 1));
    }
    logPrefix.append(": ");
    headerStart.clear();
    headerStart.append("{\"app_name\":");
    appendJsonString(headerStart, identity.appName);
    headerStart.append(",\"app_version\":");
    appendJsonString(headerStart, identity.appVersion);
    headerStart.append(",\"os_version\":");
    appendJsonString(headerStart, identity.osVersion);

    // The first backtrace loads the unwinder (libgcc_s), which allocates: never in a handler.
    void* frame = nullptr;
    ::backtrace(&frame, 1);

    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = altStackSize;
    ::sigaltstack(&stack, nullptr);

    // The other fatal signals wait while a report is written: one sent meanwhile (an abort on
    // another thread) does not end the process half-way, and a fault inside the handler itself
    // ends it at once with that fault's signal.
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : fatalSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (const int signal : fatalSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    std::set_terminate(onTerminate);
    return true;
}

}  // namespace sayloft
