#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempHome.h"
#include "core/diagnostics/CrashReporter.h"
#include "platform/linux/crash/UtcDateTime.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

// Runs the program to its end with extra environment variables; its wait status.
int run(std::vector<std::string> args, const std::map<std::string, std::string>& env = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

struct Report {
    fs::path path{};
    nlohmann::json header{};
    std::vector<std::string> stack{};
    std::string text{};
};

// The one report in folder, split into its header and its stack lines.
Report onlyReport(const fs::path& folder) {
    const auto files = filesIn(folder);
    EXPECT_EQ(files.size(), 1u) << folder;
    if (files.size() != 1) {
        return {};
    }
    Report report{.path = files.front(), .text = test::readAll(files.front())};
    std::istringstream lines(report.text);
    std::string line;
    std::getline(lines, line);
    report.header = nlohmann::json::parse(line, nullptr, false);
    while (std::getline(lines, line)) {
        report.stack.push_back(line);
    }
    return report;
}

struct Crash {
    const char* mode;
    int signal;
    std::map<std::string, std::string> fields;  // besides the identity and the time
};

TEST(CrashHandler, EachCrashLeavesOneReportWithoutUserDataAndDiesOfItsSignal) {
    const std::vector<Crash> crashes = {
        {"--crashtest",
         SIGABRT,
         {{"exception_type", "sayloft::DeliberateCrash"},
          {"exception_reason", "crashtest: deliberate crash"}}},
        // The message of any other exception may quote the user's text: the type only.
        {"runtime-error", SIGABRT, {{"exception_type", "std::runtime_error"}}},
        {"null-write", SIGSEGV, {{"signal", "SIGSEGV"}}},
        {"abort", SIGABRT, {{"signal", "SIGABRT"}}},
        {"stack-overflow", SIGSEGV, {{"signal", "SIGSEGV"}}},
    };
    const std::regex reportName(R"(Sayloft-(\d{4}-\d\d-\d\d)-(\d\d)(\d\d)(\d\d)\.ips)");
    for (const Crash& crash : crashes) {
        SCOPED_TRACE(crash.mode);
        test::TempHome home;
        const fs::path folder = home.path() / "state" / "DiagnosticReports";
        const std::time_t before = std::time(nullptr);
        const int status = run({CRASH_CHILD_BINARY, folder.string(), crash.mode});
        const std::time_t after = std::time(nullptr);
        ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
        EXPECT_EQ(WTERMSIG(status), crash.signal);

        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
        const Report report = onlyReport(folder);
        EXPECT_EQ(fs::status(report.path).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        std::smatch name;
        const std::string fileName = report.path.filename().string();
        ASSERT_TRUE(std::regex_match(fileName, name, reportName)) << fileName;
        ASSERT_TRUE(report.header.is_object()) << report.text;

        nlohmann::json expected = {
            {"app_name", "Sayloft"}, {"app_version", "9.8.7"}, {"os_version", "TestOS \"1\"\n"}};
        for (const auto& [key, value] : crash.fields) {
            expected[key] = value;
        }
        nlohmann::json header = report.header;
        const std::string timestamp = header.value("timestamp", "");
        header.erase("timestamp");
        EXPECT_EQ(header, expected);
        // The time of the crash, in UTC, in the header and in the name alike.
        bool inRun = false;
        for (std::time_t t = before; t <= after; ++t) {
            const UtcDateTime utc = UtcDateTime::fromUnixSeconds(t);
            char text[32];
            std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                          static_cast<long long>(utc.year), utc.month, utc.day, utc.hour,
                          utc.minute, utc.second);
            inRun = inRun || timestamp == text;
        }
        EXPECT_TRUE(inRun) << timestamp;
        EXPECT_EQ(timestamp, name[1].str() + "T" + name[2].str() + ":" + name[3].str() + ":" +
                                 name[4].str() + "Z");

        ASSERT_GE(report.stack.size(), 3u) << report.text;
        for (const auto& frame : report.stack) {
            EXPECT_TRUE(std::regex_match(frame, std::regex(R"(\d+  [^/]*)"))) << frame;
        }
        EXPECT_NE(report.text.find("crash_child"), std::string::npos) << report.text;
        EXPECT_EQ(report.text.find("old mill"), std::string::npos) << report.text;
        EXPECT_EQ(report.text.find(home.path().string()), std::string::npos) << report.text;
    }
}

// The real application: "--crashtest" ends it before anything exists, and its report is where
// the next start looks.
TEST(CrashHandler, CrashTestOfTheApplicationIsFoundAtTheNextStart) {
    test::TempHome home;
    const int status =
        run({SAYLOFT_APP_BINARY, "--crashtest"},
            {{"XDG_STATE_HOME", home.path().string()}, {"HOME", home.path().string()}});
    ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGABRT);

    const auto reports =
        CrashReporter::newReports(CrashReporter::defaultDirectory(home.path()), std::nullopt);
    ASSERT_EQ(reports.size(), 1u);
    const auto bytes = CrashReporter::readReport(reports.front());
    ASSERT_TRUE(bytes.has_value());
    const std::string text(bytes->begin(), bytes->end());
    const auto header = nlohmann::json::parse(text.substr(0, text.find('\n')));
    EXPECT_EQ(header.value("exception_reason", ""), "crashtest: deliberate crash");
    EXPECT_EQ(header.value("app_name", ""), "Sayloft");
    EXPECT_FALSE(header.value("os_version", "").empty());
}

TEST(UtcDateTime, CalendarArithmetic) {
    struct Case {
        std::int64_t seconds;
        UtcDateTime expected;
    };
    for (const Case& c : std::vector<Case>{
             {0, {1970, 1, 1, 0, 0, 0}},
             {951782399, {2000, 2, 28, 23, 59, 59}},
             {951868800, {2000, 3, 1, 0, 0, 0}},   // 2000 was a leap year
             {4107542400, {2100, 3, 1, 0, 0, 0}},  // 2100 is not
             {1796599800, {2026, 12, 6, 23, 30, 0}},
         }) {
        const UtcDateTime got = UtcDateTime::fromUnixSeconds(c.seconds);
        EXPECT_EQ(std::tie(got.year, got.month, got.day, got.hour, got.minute, got.second),
                  std::tie(c.expected.year, c.expected.month, c.expected.day, c.expected.hour,
                           c.expected.minute, c.expected.second))
            << c.seconds;
    }
}

}  // namespace
}  // namespace sayloft
