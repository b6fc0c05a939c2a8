#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "TempHome.h"
#include "TestForms.h"
#include "cli/KeyBindingLines.h"
#include "cli/SayloftCli.h"
#include "core/storage/KeychainStore.h"

namespace sayloft {
namespace {

using testing::LoopbackServer;
using Scratch = test::TempHome;
using Files = std::vector<std::pair<std::string, std::string>>;  // relative path, bytes

// A service address on loopback that nothing answers.
std::string unreachableService() {
    return "http://127.0.0.1:" + std::to_string(testing::unusedPort());
}

// A 16-bit PCM WAV of a tone.
std::string toneWav(std::uint32_t rate, std::uint16_t channels, double seconds) {
    return test::TestForms::wav16(test::TestForms::tone(seconds * rate * channels / 16000), rate,
                                  channels);
}

// Every file and folder under root with a hash of its bytes and its permissions.
std::map<std::filesystem::path, std::pair<std::size_t, std::filesystem::perms>> snapshot(
    const std::filesystem::path& root) {
    std::map<std::filesystem::path, std::pair<std::size_t, std::filesystem::perms>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        files[entry.path()] = {std::hash<std::string>{}(
                                   entry.is_directory() ? "(folder)" : test::readAll(entry.path())),
                               entry.status().permissions()};
    }
    return files;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// sayloft-cli in this process, its data and settings in a scratch folder, against a loopback
// service.
struct CliRig {
    Scratch scratch;
    LoopbackServer server;

    explicit CliRig(LoopbackServer::Handler handler) : server(std::move(handler)) {}

    Outcome run(const std::vector<std::string>& args, bool chinese = false) const {
        const SayloftCli cli(
            {scratch.path() / "data", server.url(), chinese, scratch.path() / "config"});
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli.run(args, out, err);
        return {status, out.str(), err.str()};
    }
};

LoopbackServer::Handler answering(int status, std::string body) {
    return [status, body](const auto&, auto& res, std::size_t) {
        LoopbackServer::reply(res, status, body);
    };
}

// sayloft-cli run with the arguments of `line` (split at spaces; "+" stands for a space inside one,
// "@name" for a file of the scratch folder, which holds a.wav and `files`) against a service
// answering "STATUS BODY": the exit status, a part of what it says (stdout on success, stderr
// otherwise), and no file changed. A failure is one line saying what failed and what to do, never
// the application's texts about a kept recording and its tray menu; a local one sends nothing.
void expectRun(const std::string& line, int status, const std::string& says,
               const std::string& answer = "200", const Files& files = {}, bool chinese = false) {
    SCOPED_TRACE(line);
    const auto space = answer.find(' ');
    CliRig rig(
        answering(std::stoi(answer), space == std::string::npos ? "" : answer.substr(space + 1)));
    rig.scratch.write("a.wav", toneWav(16000, 1, 0.1));
    for (const auto& [relative, bytes] : files) {
        rig.scratch.write(relative, bytes, std::filesystem::perms(0600));
    }
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string arg; words >> arg;) {
        std::replace(arg.begin(), arg.end(), '+', ' ');
        args.push_back(arg.starts_with("@") ? (rig.scratch.path() / arg.substr(1)).string() : arg);
    }
    const auto before = snapshot(rig.scratch.path());
    const Outcome result = rig.run(args, chinese);
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_NE((status == SayloftCli::ok ? result.out : result.err).find(says), std::string::npos)
        << result.out << result.err;
    if (status != SayloftCli::ok && status != SayloftCli::usage) {
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        for (const char* dictation : {"Recording saved", "Retry", "App", "录音已保存"}) {
            EXPECT_EQ(result.err.find(dictation), std::string::npos) << result.err;
        }
        EXPECT_TRUE(result.out.empty());
    }
    if (status == SayloftCli::usage || status == SayloftCli::badInput ||
        status == SayloftCli::noToken) {
        EXPECT_EQ(rig.server.requestCount(), 0u);
    }
    EXPECT_EQ(snapshot(rig.scratch.path()), before);
}

// The status of a failure of the service: its own, counted from 10.
int failed(APIError error) {
    return 10 + static_cast<int>(error);
}

TEST(SayloftCli, ServiceFailures) {
    const std::string transcribe = "--token=t transcribe @a.wav";
    const std::string failure = "Transcription failed: ";
    expectRun(transcribe, failed(APIError::unauthorized),
              failure + "the service refused the token; run sayloft-cli register", "401");
    expectRun(transcribe, failed(APIError::rateLimited), failure + "too many requests", "429");
    expectRun(transcribe, failed(APIError::badResponse),
              failure + "the service's answer could not be read", "200 {\"text\":1}");
    expectRun(transcribe, failed(APIError::asrFailed),
              failure + "the service could not transcribe the recording", "503");
    expectRun(transcribe, failed(APIError::unauthorized), "转写失败：服务拒绝了令牌", "401", {},
              true);
    expectRun("register", failed(APIError::rateLimited),
              "Registration failed: too many registrations", "429");
    for (const char* answer : {"500", "200 {\"token\":\"\"}"}) {
        expectRun("register", failed(APIError::badResponse),
                  "Registration failed: the service gave no usable token", answer);
    }
    expectRun("register", failed(APIError::unauthorized),
              "Registration failed: the service refused to register this computer; ask its "
              "operator for an invitation code and run sayloft-cli register --invite CODE",
              "403");
    expectRun("register", failed(APIError::unauthorized),
              "注册失败：服务拒绝为这台电脑注册；请向服务的运营者索取邀请码", "403", {}, true);
    expectRun("register", SayloftCli::otherFailure, "does not offer registration", "404 x");
    expectRun("--service " + unreachableService() + " register", failed(APIError::network),
              "Registration failed: the service could not be reached");
    expectRun("--service " + unreachableService() + " ping", failed(APIError::network), "");
    expectRun("ping", SayloftCli::ok, "HTTP 200");
    // the token never goes over plain http to another computer
    expectRun("--service http://192.0.2.1:8177 --token t transcribe @a.wav",
              failed(APIError::network), "plain http");
}

// No token (or a stored file that holds none), unreadable input, a broken words file, no Sayloft
// to take the hotkey, command-line mistakes.
TEST(SayloftCli, LocalFailures) {
    for (const std::string& stored :
         {std::string(), std::string(10 * 1024 * 1024, 'a'), std::string("tok\r\nX-Injected: 1")}) {
        expectRun("transcribe @a.wav", SayloftCli::noToken, "no service token stored", "200",
                  stored.empty() ? Files{} : Files{{"data/Sayloft/device_token", stored}});
    }
    std::string truncated = toneWav(16000, 1, 0.1);
    truncated.resize(truncated.size() - 100);
    for (const char* name : {"notes.wav", "short.wav", "absent.wav"}) {
        expectRun("transcribe @" + std::string(name) + " --token t", SayloftCli::badInput, name,
                  "200", {{"notes.wav", "just some text"}, {"short.wav", truncated}});
    }
    expectRun("token set two+words", SayloftCli::badInput, "");
    expectRun("token set a=b", SayloftCli::badInput, "");
    expectRun("words add x", SayloftCli::badInput, "not UTF-8 text", "200",
              {{"config/Sayloft/words.txt", "caf\xe9\n"}});
    expectRun("hotkey press", SayloftCli::otherFailure, "Sayloft is not running");
    for (const char* mistake :
         {"", "dance", "transcribe a.wav b.wav", "ping extra", "--bogus ping", "--service",
          "--service ftp://host ping", "--service http://host/path ping", "token get x",
          "hotkey down", "ping --invite 9d2f4b7c1e8a6053", "register --invite two+words",
          "words clear"}) {
        expectRun(mistake, SayloftCli::usage, "sayloft-cli: ");
    }
}

// The stored hotkey's name (read without setting a broken settings file aside), and the help.
TEST(SayloftCli, HotkeyNameAndHelp) {
    for (const auto& [stored, name] : std::vector<std::pair<std::string, std::string>>{
             {"", "Right Alt\n"},
             {R"({"hotkeyKeyCode": 55})", "Left Super\n"},
             {R"({"hotkeyKeyCode": "58"})", "Right Alt\n"},
             {"{broken", "Right Alt\n"}}) {
        expectRun("hotkey name", SayloftCli::ok, name, "200",
                  stored.empty() ? Files{} : Files{{"config/Sayloft/defaults.json", stored}});
    }
    for (const char* topic : {"transcribe FILE.wav", "--invite CODE", "words add WORD..."}) {
        expectRun("--help", SayloftCli::ok, topic);
    }
}

// Register stores the token, and transcribe sends it with any PCM WAV as 16 kHz mono.
TEST(SayloftCli, RegisterTranscribeAndTokenSet) {
    CliRig rig([](const httplib::Request& req, httplib::Response& res, std::size_t) {
        LoopbackServer::reply(res, 200,
                              req.path == "/v1/register"
                                  ? R"({"token":"fresh-token"})"
                                  : R"({"text":"hello there","duration":0.5})");
    });
    const KeychainStore store(rig.scratch.path() / "data");
    EXPECT_EQ(rig.run({"register", "--invite", "9d2f4b7c1e8a6053"}).status, 0);
    EXPECT_EQ(rig.server.requests().at(0).path, "/v1/register");
    EXPECT_EQ(rig.server.requests().at(0).headers.find("Sayloft-Invite")->second,
              "9d2f4b7c1e8a6053");
    EXPECT_EQ(rig.run({"register"}).status, 0);
    EXPECT_FALSE(rig.server.requests().at(1).headers.contains("Sayloft-Invite"));
    EXPECT_EQ(store.loadToken(), "fresh-token");

    const auto file = rig.scratch.write("tone.wav", toneWav(48000, 2, 0.5));
    const Outcome result = rig.run({"transcribe", file.string(), "--verbose"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "hello there\n");
    EXPECT_NE(result.err.find("audio: 0.500 s"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("transcription:"), std::string::npos);
    const auto request = rig.server.requests().at(2);
    EXPECT_EQ(request.headers.find("Authorization")->second, "Bearer fresh-token");
    // The uploaded WAV: 16 kHz, mono, 16-bit, 8000 samples (0.5 s).
    const std::size_t wavAt = request.body.find("RIFF");
    ASSERT_NE(wavAt, std::string::npos);
    EXPECT_EQ(request.body.substr(wavAt, 44),
              test::TestForms::wav16(std::vector<std::int16_t>(8000), 16000).substr(0, 44));

    const Outcome stored = rig.run({"token", "set", "sl1.AbC-_9~+/x.y=="});
    EXPECT_EQ(stored.status, 0) << stored.err;
    EXPECT_EQ(store.loadToken(), "sl1.AbC-_9~+/x.y==");
}

TEST(SayloftCli, WordsAddListAndRemoveEditTheWordsFile) {
    CliRig rig(answering(200, ""));
    const auto listed = [&rig] { return rig.run({"words", "list"}).out; };
    EXPECT_EQ(listed(), "");
    EXPECT_EQ(rig.run({"words", "add", "Sayloft", " Kubernetes   cluster"}).status, SayloftCli::ok);
    EXPECT_EQ(listed(), "Sayloft\nKubernetes cluster\n");
    // a comment or an overlong entry refuses the whole command
    EXPECT_EQ(rig.run({"words", "add", "Sayloft", "#tag", std::string(101, 'a')}).status,
              SayloftCli::badInput);
    EXPECT_EQ(listed(), "Sayloft\nKubernetes cluster\n");
    EXPECT_EQ(rig.run({"words", "remove", "Sayloft", "Nowhere"}).status, SayloftCli::otherFailure);
    EXPECT_EQ(listed(), "Kubernetes cluster\n");
}

TEST(KeyBindingLines, ByKeycodeForSwayAndHyprlandWithTheAltGrWarningOnlyForRightAlt) {
    const auto rightAlt = KeyBindingLines::forHotkey(61, "/opt/bin/sayloft-cli");
    const auto has = [](const std::vector<std::string>& lines, const std::string& wanted) {
        return std::find(lines.begin(), lines.end(), wanted) != lines.end();
    };
    EXPECT_TRUE(
        has(rightAlt, "    bindcode --no-repeat 108 exec /opt/bin/sayloft-cli hotkey press"));
    EXPECT_TRUE(has(rightAlt, "    bindr = , code:108, exec, /opt/bin/sayloft-cli hotkey release"));
    EXPECT_NE(rightAlt.back().find("AltGr"), std::string::npos);

    const auto leftCtrl = KeyBindingLines::forHotkey(59, "sayloft-cli");
    EXPECT_TRUE(has(leftCtrl, "    bindcode --no-repeat 37 exec sayloft-cli hotkey press"));
    EXPECT_EQ(leftCtrl.back().find("AltGr"), std::string::npos);

    EXPECT_TRUE(KeyBindingLines::forHotkey(56, "sayloft-cli").empty());  // Shift: never a hotkey
}

// The built program run through env(1) with the given variable changes, stderr joined to stdout.
Outcome runProgram(const std::string& environment, const std::string& arguments) {
    const std::string command =
        "env " + environment + " " + SAYLOFT_CLI_PATH + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {-1, "", "popen failed"};
    }
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    return {WEXITSTATUS(pclose(pipe)), output, ""};
}

// The doctor looks and changes nothing: not a broken settings file, not the earlier token layout,
// not a token file's permissions. Run as a process without a desktop so that its probes end fast.
// On Wayland it also says what each hotkey route costs.
TEST(SayloftCliProgram, DoctorChangesNoFile) {
    struct Case {
        Files files;
        const char* reported;
        std::string environment = "LANGUAGE=en";
    };
    const Case cases[] = {
        {{{"config/Sayloft/defaults.json", "{\"hotkeyKeyCode\": 58,"},
          {"data/Wordcast/device_token", "old-token\n"}},
         "MISSING  settings:"},
        {{{"data/Sayloft/device_token", "two words\n"}}, "holds no token"},
        {{},
         "lets every program you run read every key you type",
         "LANGUAGE=en XDG_SESSION_TYPE=wayland"},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        for (const auto& [relative, bytes] : c.files) {
            scratch.write(relative, bytes);
        }
        const Scratch runtime;  // apart: the audio library leaves its folder there
        const auto before = snapshot(scratch.path());
        const Outcome doctor =
            runProgram("-u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS " +
                           c.environment + " XDG_DATA_HOME=" + (scratch.path() / "data").string() +
                           " XDG_CONFIG_HOME=" + (scratch.path() / "config").string() +
                           " XDG_RUNTIME_DIR=" + runtime.path().string(),
                       "--service " + unreachableService() + " doctor");
        EXPECT_EQ(snapshot(scratch.path()), before) << c.reported;
        EXPECT_NE(doctor.out.find(c.reported), std::string::npos) << doctor.out;
    }
}

}  // namespace
}  // namespace sayloft
