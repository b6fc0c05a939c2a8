#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/storage/UserWordsFile.h"

namespace sayloft {
namespace {

using test::TempHome;

TEST(UserWordsFile, ReadsOneEntryALineWithoutCommentsBlanksOrRepeats) {
    struct Row {
        std::string text;
        std::vector<std::string> entries;
    };
    const Row rows[] = {
        {"", {}},
        {"Sayloft\n", {"Sayloft"}},
        {"# mine\n\n  Kubernetes   cluster \r\nSayloft\nSayloft",
         {"Kubernetes cluster", "Sayloft"}},
        {"\t\nJoão Ngũgĩ\n", {"João Ngũgĩ"}},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto entries = UserWordsFile::parse(row.text, &error);
        ASSERT_TRUE(entries) << row.text << ": " << error;
        EXPECT_EQ(*entries, row.entries) << row.text;
    }
}

TEST(UserWordsFile, RefusesABrokenFileSayingWhy) {
    struct Row {
        std::string text;
        std::string reason;
    };
    const Row rows[] = {
        {"ok\n" + std::string(101, 'a') + "\n", "line 2 is longer than 100 bytes"},
        {"caf\xe9\n", "not UTF-8 text"},
        {std::string("a\0b", 3), "not UTF-8 text"},
        {std::string(UserWordsFile::maxBytes + 1, 'a'), "larger than 64 KiB"},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_FALSE(UserWordsFile::parse(row.text, &error));
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    }
    TempHome home;
    std::string error;
    EXPECT_FALSE(UserWordsFile::read(home.write("words.txt", "\xff\xfe"), &error));
    EXPECT_NE(error.find("words.txt is not usable"), std::string::npos) << error;
}

TEST(UserWordsFile, AnAbsentFileIsEmptyAndWhatIsWrittenReadsBack) {
    TempHome home;
    const auto file = UserWordsFile::defaultPath(home.path());
    EXPECT_EQ(file, home.path() / "Sayloft" / "words.txt");
    EXPECT_EQ(UserWordsFile::read(file, nullptr), std::vector<std::string>());
    const std::vector<std::string> entries = {"Sayloft", "Kubernetes cluster"};
    ASSERT_TRUE(UserWordsFile::write(file, entries, nullptr));
    EXPECT_EQ(UserWordsFile::read(file, nullptr), entries);
}

}  // namespace
}  // namespace sayloft
