#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempHome.h"
#include "core/storage/KeychainStore.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

TEST(KeychainStore, NothingStoredCreatesNothing) {
    test::TempHome home;
    KeychainStore store(home.path());
    EXPECT_EQ(store.loadToken(), std::nullopt);
    EXPECT_TRUE(fs::is_empty(home.path()));
}

TEST(KeychainStore, SaveThenLoadIsPrivate) {
    test::TempHome home;
    KeychainStore store(home.path());
    ASSERT_TRUE(store.saveToken("abc.def"));
    EXPECT_EQ(store.loadToken(), "abc.def");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);
    EXPECT_EQ(test::readAll(store.tokenFile()), "abc.def");  // no line break, no header

    ASSERT_TRUE(store.saveToken("second"));
    EXPECT_EQ(store.loadToken(), "second");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);
    // no temporary file is left behind
    EXPECT_EQ(std::distance(fs::directory_iterator(store.tokenFile().parent_path()),
                            fs::directory_iterator()),
              1);
}

TEST(KeychainStore, FileContents) {
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"token and a line break", "tok-123\n", "tok-123"},
        {"outer white space", " \t tok \r\n", "tok"},
        {"invalid UTF-8", "tok\xFF", std::nullopt},
        {"empty", "", std::nullopt},
        {"a single blank is an empty token", " ", ""},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        KeychainStore store(home.path());
        home.write("Sayloft/device_token", c.bytes, fs::perms(0600));
        EXPECT_EQ(store.loadToken(), c.expected) << c.name;
    }
}

TEST(KeychainStore, CarriesTheEarlierTokenOverPrivately) {
    test::TempHome home;
    KeychainStore store(home.path());
    home.write("Wordcast/device_token", " old-token\n", fs::perms(0644));

    EXPECT_EQ(store.loadToken(), "old-token");
    EXPECT_TRUE(fs::exists(store.earlierTokenFile()));
    EXPECT_EQ(test::readAll(store.tokenFile()), " old-token\n");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);

    // once the new file exists the earlier one is never read again
    home.write("Wordcast/device_token", "changed", fs::perms(0600));
    EXPECT_EQ(store.loadToken(), "old-token");
}

TEST(KeychainStore, WithBothFilesTheEarlierIsIgnored) {
    test::TempHome home;
    KeychainStore store(home.path());
    home.write("Wordcast/device_token", "old", fs::perms(0600));
    home.write("Sayloft/device_token", "new", fs::perms(0600));
    EXPECT_EQ(store.loadToken(), "new");
}

TEST(KeychainStore, DeleteForgetsBothCopies) {
    test::TempHome home;
    KeychainStore store(home.path());
    EXPECT_TRUE(store.deleteToken());  // nothing to forget is not a failure
    home.write("Wordcast/device_token", "old", fs::perms(0600));
    ASSERT_TRUE(store.saveToken("rejected"));
    EXPECT_TRUE(store.deleteToken());
    EXPECT_EQ(store.loadToken(), std::nullopt);  // and the old token does not come back
}

TEST(KeychainStore, FailuresAnswerFalseOrNothing) {
    test::TempHome home;
    home.write("blocker", "a file where the folder should be");
    KeychainStore blocked(home.path() / "blocker");
    EXPECT_FALSE(blocked.saveToken("x"));
    EXPECT_EQ(blocked.loadToken(), std::nullopt);

    // a folder in place of the token file: unreadable, unwritable, not deletable
    test::TempHome other;
    fs::create_directories(other.path() / "Sayloft" / "device_token" / "inside");
    KeychainStore odd(other.path());
    EXPECT_EQ(odd.loadToken(), std::nullopt);
    EXPECT_FALSE(odd.saveToken("x"));
    EXPECT_FALSE(odd.deleteToken());
}

// Watches the token folder while a large token is written with a permissive umask: every file
// that appears or changes there must already be private. A store that created the file with
// default permissions and narrowed them afterwards would be seen here.
TEST(KeychainStore, TheTokenIsNeverReadableByOthersWhileWritten) {
    test::TempHome home;
    KeychainStore store(home.path());
    const fs::path folder = store.tokenFile().parent_path();
    fs::create_directories(folder);

    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO), 0);

    std::atomic<int> observed{0};
    std::vector<std::string> exposed;
    std::thread watcher([&] {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(watch, buffer, sizeof buffer);
            if (got <= 0) {
                return;
            }
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                at += sizeof(inotify_event) + event->len;
                const std::string name = event->len ? event->name : "";
                if (name == "stop") {
                    return;
                }
                struct stat info {};
                if (::stat((folder / name).c_str(), &info) == 0) {
                    ++observed;
                    if ((info.st_mode & 077) != 0) {
                        exposed.push_back(name);
                    }
                }
            }
        }
    });

    const mode_t previous = ::umask(0);
    const bool saved = store.saveToken(std::string(32 * 1024 * 1024, 't'));
    ::umask(previous);
    home.write("Sayloft/stop", "");
    watcher.join();
    ::close(watch);

    EXPECT_TRUE(saved);
    EXPECT_GT(observed.load(), 0);
    EXPECT_TRUE(exposed.empty()) << "readable by others: " << exposed.front();
}

}  // namespace
}  // namespace sayloft
