// The user's words through the real service binary: `--evaluate` on recordings flite speaks, with
// and without a words file, and a broken words file at start.

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HttpTestSupport.h"
#include "ServerProcess.h"
#include "TestForms.h"

namespace sayloft::test {
namespace {

// Writes NAME.wav (flite's slt voice speaking `words`) and NAME.txt into dir.
void speak(const std::filesystem::path& dir, const std::string& name, const std::string& words) {
    const auto wav = (dir / (name + ".wav")).string();
    ASSERT_EQ(std::system(("flite -voice slt -t \"" + words + "\" -o " + wav).c_str()), 0)
        << "flite (Debian package flite) is needed";
    std::ofstream(dir / (name + ".txt")) << words << "\n";
}

TEST(UserWords, AnAddedWordIsRecognisedWhereItWasNotBeforeAndAnUnspellableOneIsReported) {
    TempDir set;
    speak(set.path(), "meet", "i think we can meet in may");
    speak(set.path(), "notes", "send the notes to sayloft today");
    TempDir config;
    const auto words = config.path() / "words.txt";
    std::ofstream(words) << "# names\nSayloft\nx2z!\n";

    const auto before = ServerProcess::run({"--evaluate", set.path().string(), "--words", ""});
    ASSERT_EQ(before.status, 0) << before.err;
    EXPECT_NE(before.out.find("meet\t0/7\ti think we can meet in may\n"), std::string::npos)
        << before.out;
    EXPECT_EQ(before.out.find("Sayloft"), std::string::npos) << before.out;

    const auto after =
        ServerProcess::run({"--evaluate", set.path().string(), "--words", words.string()});
    ASSERT_EQ(after.status, 0) << after.err;
    EXPECT_NE(after.out.find(" Sayloft today\n"), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("meet\t0/7\t"), std::string::npos) << after.out;
    EXPECT_NE(after.err.find("1 word(s) added, 0 already known; no pronunciation could be "
                             "derived for: x2z!"),
              std::string::npos)
        << after.err;
}

// Also the service asked for raw text: the recogniser's words as they are, not a sentence.
TEST(UserWords, ABrokenWordsFileIsReportedAndTheServiceStartsWithoutIt) {
    TempDir config;
    const auto words = config.path() / "words.txt";
    std::ofstream(words) << "Sayloft\n\xff\xfe\n";
    ServerProcess server({"--decoders", "1", "--words", words.string(), "--raw-text"});
    ASSERT_TRUE(server.started()) << server.output();
    EXPECT_NE(server.output().find("the words file " + words.string() +
                                   " is not usable: it is not UTF-8 text; going on without the "
                                   "user's words"),
              std::string::npos)
        << server.output();

    speak(config.path(), "meet", "i think we can meet in may");
    httplib::Client c("127.0.0.1", server.port());
    c.set_read_timeout(std::chrono::seconds(120));
    const auto b = TestForms::newBoundary();
    const auto res = c.Post(
        "/v1/transcribe", {{"Authorization", "Bearer " + registerToken(server.port())}},
        TestForms::transcribeBody(b, TestForms::readFile((config.path() / "meet.wav").string())),
        TestForms::contentType(b).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(nlohmann::json::parse(res->body)["text"], "i think we can meet in may") << res->body;
}

}  // namespace
}  // namespace sayloft::test
