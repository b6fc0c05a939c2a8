#include "server/AccessLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace sayloft {
namespace {

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string printable(std::string_view text) {
    if (text.empty()) {
        return "-";
    }
    std::string out;
    for (const char c : text.substr(0, 120)) {
        out += (c > 32 && c < 127) ? c : '?';
    }
    return out;
}

}  // namespace

void AccessLog::write(std::string_view method, std::string_view path, int status,
                      std::uint64_t bytesIn, std::uint64_t bytesOut, long long millis) {
    const std::string line = utcNow() + " " + printable(method) + " " + printable(path) + " " +
                             std::to_string(status) + " in=" + std::to_string(bytesIn) +
                             " out=" + std::to_string(bytesOut) + " ms=" + std::to_string(millis) +
                             "\n";
    std::lock_guard lock(mutex_);
    out_ << line << std::flush;
}

void AccessLog::note(std::string_view message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.remove_suffix(1);
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (lastNote_ != std::chrono::steady_clock::time_point{} &&
        now - lastNote_ < std::chrono::seconds(1)) {
        ++notesLeftOut_;
        return;
    }
    lastNote_ = now;
    out_ << "sayloft-server: http: " << message;
    if (notesLeftOut_ > 0) {
        out_ << " (" << notesLeftOut_ << " more messages left out)";
        notesLeftOut_ = 0;
    }
    out_ << std::endl;
}

}  // namespace sayloft
