#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "TempHome.h"
#include "core/diagnostics/CrashReporter.h"
#include "platform/linux/crash/UtcDateTime.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

// Runs a shell command line to its end; the wait status of the program it ends with.
int run(const std::string& command) {
    return std::system(("exec " + command).c_str());
}

// The time in UTC as the reports write it.
std::string utc(std::time_t time) {
    char text[32];
    std::strftime(text, sizeof text, "%FT%TZ", std::gmtime(&time));
    return text;
}

TEST(CrashHandler, EachCrashLeavesOneReportWithoutUserDataAndDiesOfItsSignal) {
    struct Crash {
        const char* mode;
        int signal;
        const char* field;  // besides the identity and the time
        const char* value;
    };
    // The deliberate crash is the application's, below.
    const Crash crashes[] = {
        // The message of any other exception may quote the user's text: the type only.
        {"runtime-error", SIGABRT, "exception_type", "std::runtime_error"},
        {"null-write", SIGSEGV, "signal", "SIGSEGV"},
        {"abort", SIGABRT, "signal", "SIGABRT"},
        {"stack-overflow", SIGSEGV, "signal", "SIGSEGV"},
    };
    for (const Crash& crash : crashes) {
        SCOPED_TRACE(crash.mode);
        test::TempHome home;
        const fs::path folder = home.path() / "state" / "DiagnosticReports";
        const std::time_t before = std::time(nullptr);
        const int status =
            run(std::string(CRASH_CHILD_BINARY) + " '" + folder.string() + "' " + crash.mode);
        const std::time_t after = std::time(nullptr);
        ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
        EXPECT_EQ(WTERMSIG(status), crash.signal);

        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
        const auto files = std::vector(fs::directory_iterator(folder), fs::directory_iterator());
        ASSERT_EQ(files.size(), 1u);
        const fs::path report = files.front().path();
        EXPECT_EQ(fs::status(report).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        const std::string text = test::readAll(report);
        std::istringstream lines(text);
        std::string line;
        std::getline(lines, line);
        nlohmann::json header = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(header.is_object()) << text;

        nlohmann::json expected = {
            {"app_name", "Sayloft"}, {"app_version", "9.8.7"}, {"os_version", "TestOS \"1\"\n"}};
        expected[crash.field] = crash.value;
        // The time of the crash, in UTC, in the header and in the name alike.
        const std::string stamp = header.value("timestamp", "");
        header.erase("timestamp");
        EXPECT_EQ(header, expected);
        EXPECT_TRUE(stamp == utc(before) || stamp == utc(after)) << stamp;
        EXPECT_EQ(report.filename().string(), "Sayloft-" + stamp.substr(0, 10) + "-" +
                                                  stamp.substr(11, 2) + stamp.substr(14, 2) +
                                                  stamp.substr(17, 2) + ".ips");

        int frames = 0;
        while (std::getline(lines, line)) {
            ++frames;
            EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d+  [^/]*)"))) << line;
        }
        EXPECT_GE(frames, 3) << text;
        EXPECT_NE(text.find("crash_child"), std::string::npos) << text;
        EXPECT_EQ(text.find("old mill"), std::string::npos) << text;
        EXPECT_EQ(text.find(home.path().string()), std::string::npos) << text;
    }
}

// The real application: "--crashtest" ends it before anything exists, and its report is where
// the next start looks.
TEST(CrashHandler, CrashTestOfTheApplicationIsFoundAtTheNextStart) {
    test::TempHome home;
    const int status = run("env XDG_STATE_HOME='" + home.path().string() + "' HOME='" +
                           home.path().string() + "' " + SAYLOFT_APP_BINARY + " --crashtest");
    ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGABRT);

    const auto reports =
        CrashReporter::newReports(CrashReporter::defaultDirectory(home.path()), std::nullopt);
    ASSERT_EQ(reports.size(), 1u);
    const auto bytes = CrashReporter::readReport(reports.front());
    ASSERT_TRUE(bytes.has_value());
    const std::string text(bytes->begin(), bytes->end());
    const auto header = nlohmann::json::parse(text.substr(0, text.find('\n')));
    EXPECT_EQ(header.value("exception_type", ""), "sayloft::DeliberateCrash");
    EXPECT_EQ(header.value("exception_reason", ""), "crashtest: deliberate crash");
    EXPECT_EQ(header.value("app_name", ""), "Sayloft");
    EXPECT_FALSE(header.value("os_version", "").empty());
}

TEST(UtcDateTime, AgreesWithGmtime) {
    // The epoch, both sides of 2000's leap day, 2100 (no leap year), a day of 2026.
    for (const std::time_t t : {0L, 951782399L, 951868800L, 4107542400L, 1796599800L}) {
        const UtcDateTime got = UtcDateTime::fromUnixSeconds(t);
        const std::tm want = *std::gmtime(&t);
        EXPECT_EQ(std::tuple(got.year, got.month, got.day, got.hour, got.minute, got.second),
                  std::tuple(want.tm_year + std::int64_t{1900}, want.tm_mon + 1, want.tm_mday,
                             want.tm_hour, want.tm_min, want.tm_sec))
            << t;
    }
}

}  // namespace
}  // namespace sayloft
