#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempHome.h"
#include "core/net/BearerToken.h"
#include "core/storage/KeychainStore.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

TEST(KeychainStore, SaveThenLoadIsPrivateAndDeleteForgetsBothCopies) {
    test::TempHome home;
    KeychainStore store(home.path());
    EXPECT_TRUE(store.deleteToken());  // nothing to forget is not a failure
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

    home.write("Wordcast/device_token", "old", fs::perms(0600));
    EXPECT_TRUE(store.deleteToken());
    EXPECT_EQ(store.loadToken(), std::nullopt);  // and the earlier token does not come back
}

TEST(KeychainStore, FileContents) {
    using State = KeychainStore::TokenState;
    struct Case {
        const char* name;
        std::string bytes;
        State state;
        std::optional<std::string> expected;
    };
    const std::string longest(BearerToken::maxBytes, 't');
    const std::vector<Case> cases = {
        {"token and a line break", "tok-123\n", State::valid, "tok-123"},
        {"outer white space", " \t tok \r\n", State::valid, "tok"},
        {"every token character and padding", "sl1.AbC-_9~+/x.y==", State::valid,
         "sl1.AbC-_9~+/x.y=="},
        {"the longest token", longest, State::valid, longest},
        {"one byte more than the longest", longest + "t", State::malformed, std::nullopt},
        {"10 MB", std::string(10 * 1024 * 1024, 'a'), State::malformed, std::nullopt},
        {"invalid UTF-8", "tok\xFF", State::malformed, std::nullopt},
        {"empty", "", State::malformed, std::nullopt},
        {"two words", "tok en", State::malformed, std::nullopt},
        {"a line break inside", "tok\r\nX-Other: 1", State::malformed, std::nullopt},
        {"a NUL byte", std::string("tok\0en", 6), State::malformed, std::nullopt},
        {"padding inside", "a=b", State::malformed, std::nullopt},
        {"non-ASCII letters", "tök", State::malformed, std::nullopt},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        KeychainStore store(home.path());
        home.write("Sayloft/device_token", c.bytes, fs::perms(0600));
        EXPECT_EQ(store.loadToken(), c.expected) << c.name;
        EXPECT_EQ(store.lookUp().state, c.state) << c.name;
    }
    test::TempHome empty;
    EXPECT_EQ(KeychainStore(empty.path()).lookUp().state, State::absent);
    EXPECT_TRUE(fs::is_empty(empty.path()));  // looking creates nothing
}

TEST(KeychainStore, ALooseTokenFileIsMadePrivateOnLoadAndSaidOnce) {
    test::TempHome home;
    std::vector<std::string> notices;
    KeychainStore store(home.path(), KeychainStore::Access::readWrite,
                        [&notices](const std::string& line) { notices.push_back(line); });
    home.write("Sayloft/device_token", "tok", fs::perms(0644));

    EXPECT_EQ(store.loadToken(), "tok");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);
    EXPECT_EQ(store.loadToken(), "tok");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(store.tokenFile().string()), std::string::npos) << notices[0];
}

TEST(KeychainStore, ReadOnlyAccessChangesNoFile) {
    test::TempHome home;
    KeychainStore store(home.path(), KeychainStore::Access::readOnly);
    home.write("Wordcast/device_token", "old-token\n", fs::perms(0644));

    const KeychainStore::Lookup earlier = store.lookUp();
    EXPECT_EQ(earlier.state, KeychainStore::TokenState::valid);
    EXPECT_EQ(earlier.token, "old-token");
    EXPECT_EQ(earlier.file, store.earlierTokenFile());
    EXPECT_TRUE(earlier.readableByOthers);
    EXPECT_FALSE(fs::exists(store.tokenFile().parent_path()));  // not carried over
    EXPECT_EQ(modeOf(store.earlierTokenFile()), 0644u);

    home.write("Sayloft/device_token", "tok", fs::perms(0644));
    EXPECT_EQ(store.loadToken(), "tok");
    EXPECT_EQ(modeOf(store.tokenFile()), 0644u);  // not tightened
}

TEST(KeychainStore, CarriesTheEarlierTokenOverPrivatelyAndThenIgnoresIt) {
    test::TempHome home;
    std::vector<std::string> notices;
    KeychainStore store(home.path(), KeychainStore::Access::readWrite,
                        [&notices](const std::string& line) { notices.push_back(line); });
    home.write("Wordcast/device_token", " old-token\n", fs::perms(0644));

    EXPECT_EQ(store.loadToken(), "old-token");
    EXPECT_TRUE(fs::exists(store.earlierTokenFile()));
    EXPECT_EQ(test::readAll(store.tokenFile()), " old-token\n");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);
    EXPECT_TRUE(notices.empty()) << "the copy was written private, not tightened afterwards";

    // once the new file exists the earlier one is never read again
    home.write("Wordcast/device_token", "changed", fs::perms(0600));
    EXPECT_EQ(store.loadToken(), "old-token");
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
