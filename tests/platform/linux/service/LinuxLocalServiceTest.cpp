// The user's own service started for the user, as a child process (the test machine runs no
// systemd user manager), against the real sayloft-server.

#include <chrono>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <signal.h>

#include "TempHome.h"
#include "VirtualRunLoop.h"
#include "core/net/APIClient.h"
#include "platform/linux/service/LinuxLocalService.h"

namespace sayloft::test {
namespace {

namespace fs = std::filesystem;

struct Answer {
    bool ok = false;
    std::string reason;
};

class LinuxLocalServiceTest : public ::testing::Test {
protected:
    LinuxLocalService::Options options(fs::path binary = SAYLOFT_SERVER_BINARY) const {
        LinuxLocalService::Options o;
        o.serverBinary = std::move(binary);
        o.dataDir = root_ / "data";
        o.logFile = root_ / "state" / "server.log";
        return o;
    }

    ServiceEndpoint endpoint() const {
        return {*Url::parse("http://127.0.0.1:8177"), ServiceEndpoint::userSocket(root_)};
    }

    // Runs the main thread's work until done has been called; the worker polls a real process,
    // so this waits in real time, bounded.
    Answer ensureRunning(LinuxLocalService& service) {
        std::optional<Answer> answer;
        service.ensureRunning([&answer](bool ok, const std::string& reason) {
            answer = Answer{ok, reason};
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!answer && std::chrono::steady_clock::now() < deadline) {
            runLoop_.waitForPosted(std::chrono::milliseconds(500));
        }
        return answer.value_or(Answer{false, "no answer"});
    }

    TempHome home_;
    const fs::path& root_ = home_.path();
    VirtualRunLoop runLoop_;
};

TEST_F(LinuxLocalServiceTest, StartsTheServerOnThePrivateSocketAndStopsItWhenDestroyed) {
    pid_t child = -1;
    {
        LinuxLocalService service(runLoop_, endpoint(), options());
        EXPECT_TRUE(service.isLocal());
        const Answer answer = ensureRunning(service);
        ASSERT_TRUE(answer.ok) << answer.reason;
        child = service.childPid();
        EXPECT_GT(child, 0);
        const fs::path socket = endpoint().unixSocket;
        EXPECT_EQ(fs::status(socket).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(socket.parent_path()).permissions(), fs::perms::owner_all);

        const std::string token = APIClient(endpoint()).registerDevice();
        EXPECT_TRUE(token.starts_with("sl1.")) << token;

        // Already answering: no second server.
        const Answer again = ensureRunning(service);
        EXPECT_TRUE(again.ok) << again.reason;
        EXPECT_EQ(service.childPid(), child);
    }
    EXPECT_NE(::kill(child, 0), 0) << "the child outlived the service object";
    EXPECT_FALSE(fs::exists(endpoint().unixSocket));
}

TEST_F(LinuxLocalServiceTest, SaysWhyWhenTheServerCannotBeStarted) {
    struct Case {
        const char* what;
        std::string body;  // of the stand-in program; empty: not installed
        std::string reason;
    };
    const Case cases[] = {
        {"not installed", "", "not installed"},
        {"exits at once", "echo 'sayloft-server: cannot load the model' >&2; exit 1",
         "sayloft-server stopped: sayloft-server: cannot load the model"},
        {"never answers", "exec sleep 30", "did not answer within"},
    };
    for (const auto& c : cases) {
        auto o = options(c.body.empty() ? fs::path()
                                        : home_.write("fake-server", "#!/bin/sh\n" + c.body + "\n",
                                                      fs::perms::owner_all));
        o.healthWait = std::chrono::milliseconds(500);
        LinuxLocalService service(runLoop_, endpoint(), o);
        const Answer answer = ensureRunning(service);
        EXPECT_FALSE(answer.ok) << c.what;
        EXPECT_NE(answer.reason.find(c.reason), std::string::npos)
            << c.what << ": " << answer.reason;
    }
}

TEST_F(LinuxLocalServiceTest, LeavesAServiceElsewhereAlone) {
    LinuxLocalService service(runLoop_, {*Url::parse("https://dictation.example.org")}, options());
    EXPECT_FALSE(service.isLocal());
    const Answer answer = ensureRunning(service);
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(service.childPid(), -1);
}

TEST(LinuxLocalServiceFind, PrefersTheServerBesideTheProgramThenTheBuildTreeThenPath) {
    const TempHome root;
    const fs::path program = root.path() / "build" / "sayloft" / "sayloft";
    const std::string path = (root.path() / "path").string();
    EXPECT_EQ(LinuxLocalService::findServer(program, path.c_str()), fs::path());
    // Each placed in turn, and preferred to those before it.
    for (const char* place :
         {"path/sayloft-server", "build/server/sayloft-server", "build/sayloft/sayloft-server"}) {
        root.write(place, "#!/bin/sh\n", fs::perms::owner_all);
        EXPECT_EQ(LinuxLocalService::findServer(program, path.c_str()), root.path() / place);
    }
}

}  // namespace
}  // namespace sayloft::test
