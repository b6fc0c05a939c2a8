#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempHome.h"
#include "core/net/BearerToken.h"
#include "core/storage/KeychainStore.h"
#include "core/storage/UserDefaultsStore.h"
#include "core/storage/UserWordsFile.h"

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
    ASSERT_TRUE(store.saveToken("second"));
    EXPECT_EQ(store.loadToken(), "second");
    EXPECT_EQ(modeOf(store.tokenFile()), 0600u);
    EXPECT_EQ(test::readAll(store.tokenFile()), "second");  // no line break, no header
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
        std::optional<std::string> token;  // none: malformed
    };
    const std::string longest(BearerToken::maxBytes, 't');
    const std::vector<Case> cases = {
        {"outer white space", " \t tok \r\n", "tok"},
        {"every token character and padding", "sl1.AbC-_9~+/x.y==", "sl1.AbC-_9~+/x.y=="},
        {"the longest token", longest, longest},
        {"one byte more than the longest", longest + "t", std::nullopt},
        {"10 MB", std::string(10 * 1024 * 1024, 'a'), std::nullopt},
        {"invalid UTF-8", "tok\xFF", std::nullopt},
        {"empty", "", std::nullopt},
        {"two words", "tok en", std::nullopt},
        {"a line break inside", "tok\r\nX-Other: 1", std::nullopt},
        {"a NUL byte", std::string("tok\0en", 6), std::nullopt},
        {"padding inside", "a=b", std::nullopt},
        {"non-ASCII letters", "tök", std::nullopt},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        KeychainStore store(home.path());
        home.write("Sayloft/device_token", c.bytes, fs::perms(0600));
        EXPECT_EQ(store.loadToken(), c.token) << c.name;
        EXPECT_EQ(store.lookUp().state, c.token ? State::valid : State::malformed) << c.name;
    }
    test::TempHome empty;
    EXPECT_EQ(KeychainStore(empty.path()).lookUp().state, State::absent);
    EXPECT_TRUE(fs::is_empty(empty.path()));  // looking creates nothing
}

// A token file that others may read, or one only in the earlier layout: a read-write store makes
// it private (saying so once) or carries it over privately and reads the earlier one no more; a
// read-only store changes no file.
TEST(KeychainStore, LooseAndEarlierTokenFiles) {
    using Access = KeychainStore::Access;
    struct Case {
        bool earlier;  // the file is in the earlier layout
        Access access;
        mode_t modeAfter;  // of tokenFile(), 0 when there is none
        std::size_t notices;
    };
    for (const Case& c :
         {Case{false, Access::readWrite, 0600, 1}, Case{false, Access::readOnly, 0644, 0},
          Case{true, Access::readWrite, 0600, 0}, Case{true, Access::readOnly, 0, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.earlier << (c.access == Access::readOnly));
        test::TempHome home;
        std::vector<std::string> notices;
        KeychainStore store(home.path(), c.access,
                            [&notices](const std::string& line) { notices.push_back(line); });
        const auto file = c.earlier ? store.earlierTokenFile() : store.tokenFile();
        home.write(fs::relative(file, home.path()), " tok\n", fs::perms(0644));

        const KeychainStore::Lookup found = store.lookUp();
        EXPECT_EQ(found.token, "tok");
        EXPECT_EQ(found.file, c.modeAfter ? store.tokenFile() : file);
        EXPECT_EQ(found.readableByOthers, !(c.earlier && c.access == Access::readWrite));
        EXPECT_EQ(store.loadToken(), "tok");
        EXPECT_EQ(notices.size(), c.notices);
        if (!notices.empty()) {
            EXPECT_NE(notices[0].find(store.tokenFile().string()), std::string::npos);
        }
        EXPECT_EQ(fs::exists(store.tokenFile()) ? modeOf(store.tokenFile()) : 0, c.modeAfter);
        EXPECT_EQ(modeOf(file), c.earlier ? 0644u : c.modeAfter);
        if (c.earlier && c.access == Access::readWrite) {
            home.write(fs::relative(file, home.path()), "changed", fs::perms(0600));
            EXPECT_EQ(store.loadToken(), "tok");
        }
    }
}

TEST(KeychainStore, FailuresAnswerFalseOrNothing) {
    test::TempHome home;
    home.write("blocker", "a file where the folder should be");
    KeychainStore blocked(home.path() / "blocker");
    EXPECT_FALSE(blocked.saveToken("x"));
    EXPECT_EQ(blocked.loadToken(), std::nullopt);

    // a folder in place of the token file: unreadable, unwritable, not deletable
    fs::create_directories(home.path() / "Sayloft" / "device_token" / "inside");
    KeychainStore odd(home.path());
    EXPECT_EQ(odd.loadToken(), std::nullopt);
    EXPECT_FALSE(odd.saveToken("x"));
    EXPECT_FALSE(odd.deleteToken());
}

// Looks into the token folder while a large token is written with a permissive umask: every file
// there must already be private, not narrowed afterwards.
TEST(KeychainStore, TheTokenIsNeverReadableByOthersWhileWritten) {
    test::TempHome home;
    KeychainStore store(home.path());
    const fs::path folder = store.tokenFile().parent_path();
    fs::create_directories(folder);
    const mode_t previous = ::umask(0);
    bool saved = false;
    std::atomic<bool> done = false;
    std::thread writer([&] {
        saved = store.saveToken(std::string(32 * 1024 * 1024, 't'));
        done = true;
    });
    int observed = 0;
    std::vector<fs::path> exposed;
    while (!done) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            struct stat info {};
            if (::stat(entry.path().c_str(), &info) == 0 && ++observed && (info.st_mode & 077)) {
                exposed.push_back(entry.path());
            }
        }
    }
    writer.join();
    ::umask(previous);
    EXPECT_TRUE(saved);
    EXPECT_GT(observed, 0);
    EXPECT_TRUE(exposed.empty()) << exposed.front();
}

// Typed values survive a restart, a value of another type reads as absent, and what this version
// does not know is kept as it was.
TEST(UserDefaultsStore, TypedValuesSurviveARestart) {
    test::TempHome home;
    const auto file = home.write("defaults.json", R"({"future": [1, {"x": 2}], "n": 3})");
    const auto when =
        UserDefaultsStore::Date(std::chrono::duration_cast<UserDefaultsStore::Date::duration>(
            std::chrono::nanoseconds(1796472924123456789)));
    {
        UserDefaultsStore store(file);
        EXPECT_EQ(store.integer("n"), 3);
        EXPECT_EQ(store.text("future"), std::nullopt);
        EXPECT_TRUE(store.setInteger("hotkeyKeyCode", 58));
        EXPECT_TRUE(store.setBoolean("insertByTyping", true));
        EXPECT_TRUE(store.setDate("crashReportLastSeen", when));
        EXPECT_TRUE(store.setText("note", "言泉"));
        EXPECT_TRUE(store.remove("n"));
    }
    UserDefaultsStore reopened(file);
    EXPECT_EQ(reopened.integer("hotkeyKeyCode"), 58);
    EXPECT_EQ(reopened.boolean("insertByTyping"), true);
    EXPECT_EQ(reopened.date("crashReportLastSeen"), when);
    EXPECT_EQ(reopened.text("note"), "言泉");
    EXPECT_EQ(reopened.integer("n"), std::nullopt);
    EXPECT_EQ(reopened.brokenFileSetAside(), std::nullopt);
    EXPECT_EQ(reopened.integer("note"), std::nullopt);
    EXPECT_EQ(reopened.boolean("hotkeyKeyCode"), std::nullopt);
    EXPECT_EQ(reopened.date("hotkeyKeyCode"), std::nullopt);
    EXPECT_EQ(reopened.text("insertByTyping"), std::nullopt);
    EXPECT_EQ(nlohmann::json::parse(test::readAll(file))["future"],
              nlohmann::json::parse(R"([1, {"x": 2}])"));
}

// Each broken file reads as empty. Read-only access leaves it as it is; read-write access keeps it
// aside, a new one for every breakage (several within one second get the same time in their
// names), none overwritten by another or by a write.
TEST(UserDefaultsStore, EveryBrokenFileIsKeptAsideNoneOverwritten) {
    test::TempHome home;
    const std::vector<std::string> broken = {"{\"hotkeyKeyCode\": 58,", "[1, 2]",
                                             "\xFF\xFE garbage", ""};
    std::set<fs::path> kept;
    for (const auto& bytes : broken) {
        const auto file = home.write("Sayloft/defaults.json", bytes);
        UserDefaultsStore looking(file, UserDefaultsStore::Access::readOnly);
        EXPECT_TRUE(looking.foundBroken());
        EXPECT_FALSE(looking.setInteger("hotkeyKeyCode", 59));
        EXPECT_EQ(looking.brokenFileSetAside(), std::nullopt);
        EXPECT_EQ(test::readAll(file), bytes);

        UserDefaultsStore store(file);
        EXPECT_EQ(store.integer("hotkeyKeyCode"), std::nullopt);
        const auto aside = store.brokenFileSetAside();
        ASSERT_TRUE(aside.has_value()) << bytes;
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(store.setInteger("hotkeyKeyCode", 59));
        EXPECT_EQ(UserDefaultsStore(file).integer("hotkeyKeyCode"), 59);
        kept.insert(*aside);
    }
    std::set<std::string> contents;
    for (const auto& file : kept) {
        contents.insert(test::readAll(file));
    }
    EXPECT_EQ(contents, std::set<std::string>(broken.begin(), broken.end()));

    // read-only access changes a sound file neither
    const auto file = home.write("Sayloft/defaults.json", R"({"hotkeyKeyCode": 58})");
    UserDefaultsStore sound(file, UserDefaultsStore::Access::readOnly);
    EXPECT_FALSE(sound.foundBroken());
    EXPECT_EQ(sound.integer("hotkeyKeyCode"), 58);
    EXPECT_FALSE(sound.remove("hotkeyKeyCode"));
    EXPECT_EQ(test::readAll(file), R"({"hotkeyKeyCode": 58})");
}

TEST(UserDefaultsStore, AnUnreadableFileIsNeverOverwritten) {
    test::TempHome home;
    const auto file = home.path() / "defaults.json";
    fs::create_directories(file / "inside");  // a folder where the file should be
    UserDefaultsStore store(file);
    EXPECT_FALSE(store.setBoolean("insertByTyping", true));
    EXPECT_EQ(store.boolean("insertByTyping"), true);  // kept for this run
    EXPECT_TRUE(fs::exists(file / "inside"));
}

// One entry a line without comments, blanks or repeats; a broken file is refused saying why.
TEST(UserWordsFile, Parse) {
    struct Row {
        std::string text;
        std::vector<std::string> entries;
        std::string refused = "";
    };
    const Row rows[] = {
        {"", {}},
        {"Sayloft\n", {"Sayloft"}},
        {"# mine\n\n  Kubernetes   cluster \r\nSayloft\nSayloft",
         {"Kubernetes cluster", "Sayloft"}},
        {"\t\nJoão Ngũgĩ\n", {"João Ngũgĩ"}},
        {"ok\n" + std::string(101, 'a') + "\n", {}, "line 2 is longer than 100 bytes"},
        {"caf\xe9\n", {}, "not UTF-8 text"},
        {std::string("a\0b", 3), {}, "not UTF-8 text"},
        {std::string(UserWordsFile::maxBytes + 1, 'a'), {}, "larger than 64 KiB"},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto entries = UserWordsFile::parse(row.text, &error);
        EXPECT_EQ(entries, row.refused.empty() ? std::optional(row.entries) : std::nullopt)
            << row.text;
        EXPECT_NE(error.find(row.refused), std::string::npos) << error;
    }
}

TEST(UserWordsFile, AnAbsentFileIsEmptyWhatIsWrittenReadsBackABrokenOneIsNamed) {
    test::TempHome home;
    const auto file = UserWordsFile::defaultPath(home.path());
    EXPECT_EQ(file, home.path() / "Sayloft" / "words.txt");
    EXPECT_EQ(UserWordsFile::read(file, nullptr), std::vector<std::string>());
    const std::vector<std::string> entries = {"Sayloft", "Kubernetes cluster"};
    ASSERT_TRUE(UserWordsFile::write(file, entries, nullptr));
    EXPECT_EQ(UserWordsFile::read(file, nullptr), entries);
    std::string error;
    EXPECT_FALSE(UserWordsFile::read(home.write("words.txt", "\xff\xfe"), &error));
    EXPECT_NE(error.find("words.txt is not usable"), std::string::npos) << error;
}

}  // namespace
}  // namespace sayloft
