#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// A service address on loopback that nothing answers.
std::string unreachableService() {
    return "http://127.0.0.1:" + std::to_string(testing::unusedPort());
}

// A 16-bit PCM WAV of a tone.
std::string toneWav(std::uint32_t rate, std::uint16_t channels, double seconds) {
    return test::TestForms::wav16(test::TestForms::tone(seconds * rate * channels / 16000), rate,
                                  channels);
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

struct CliRig {
    Scratch scratch;
    LoopbackServer server;

    explicit CliRig(LoopbackServer::Handler handler) : server(std::move(handler)) {}

    Outcome run(std::vector<std::string> args, bool chinese = false) const {
        const SayloftCli cli({scratch.path() / "data", server.url(), chinese});
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

TEST(SayloftCli, TranscribesAnyPcmWavAsSixteenKilohertzMono) {
    CliRig rig(answering(200, R"({"text":"hello there","duration":0.5})"));
    const auto file = rig.scratch.write("tone.wav", toneWav(48000, 2, 0.5));
    const Outcome result = rig.run({"transcribe", file.string(), "--token", "tok", "--verbose"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "hello there\n");
    EXPECT_NE(result.err.find("audio: 0.500 s"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("transcription:"), std::string::npos);

    const auto request = rig.server.requests().at(0);
    EXPECT_EQ(request.headers.find("Authorization")->second, "Bearer tok");
    // The uploaded WAV: 16 kHz, mono, 16-bit, 8000 samples (0.5 s), after the 92-byte part header.
    const std::size_t wavAt = request.body.find("RIFF");
    ASSERT_NE(wavAt, std::string::npos);
    EXPECT_EQ(request.body.substr(wavAt, 44),
              test::TestForms::wav16(std::vector<std::int16_t>(8000), 16000).substr(0, 44));
}

// No token, or a stored file that holds none, is no token; a stored one is used.
TEST(SayloftCli, UsesTheStoredTokenAndSaysSoWhenThereIsNone) {
    CliRig rig(answering(200, R"({"text":"ok","duration":1})"));
    const auto file = rig.scratch.write("a.wav", toneWav(16000, 1, 0.1));
    for (const std::string& stored :
         {std::string(), std::string(10 * 1024 * 1024, 'a'), std::string("tok\r\nX-Injected: 1")}) {
        if (!stored.empty()) {
            rig.scratch.write("data/Sayloft/device_token", stored);
        }
        const Outcome result = rig.run({"transcribe", file.string()});
        EXPECT_EQ(result.status, SayloftCli::noToken) << stored.substr(0, 20);
        EXPECT_NE(result.err.find("no service token stored"), std::string::npos) << result.err;
    }
    EXPECT_EQ(rig.server.requestCount(), 0u);

    ASSERT_TRUE(KeychainStore(rig.scratch.path() / "data").saveToken("stored"));
    EXPECT_EQ(rig.run({"transcribe", file.string()}).status, 0);
    EXPECT_EQ(rig.server.requests().at(0).headers.find("Authorization")->second, "Bearer stored");
}

// One line that says what failed and what to do, never the application's texts about a kept
// recording and its tray menu.
void expectOwnText(const Outcome& result, const std::string& start) {
    EXPECT_EQ(result.err.rfind(start, 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    for (const char* dictation : {"Recording saved", "Retry", "App", "录音已保存"}) {
        EXPECT_EQ(result.err.find(dictation), std::string::npos) << result.err;
    }
    EXPECT_TRUE(result.out.empty());
}

TEST(SayloftCli, FailuresSayWhatFailedAndExitWithTheirOwnStatus) {
    struct Row {
        const char* command;
        int status;
        std::string body;
        APIError error;
        const char* text;
        bool chinese = false;
    };
    const Row rows[] = {
        {"transcribe", 401, "", APIError::unauthorized,
         "Transcription failed: the service refused the token; run sayloft-cli register"},
        {"transcribe", 429, "", APIError::rateLimited, "Transcription failed: too many requests"},
        {"transcribe", 200, "{\"text\":1}", APIError::badResponse,
         "Transcription failed: the service's answer could not be read"},
        {"transcribe", 503, "", APIError::asrFailed,
         "Transcription failed: the service could not transcribe the recording"},
        {"transcribe", 401, "", APIError::unauthorized, "转写失败：服务拒绝了令牌", true},
        {"register", 429, "", APIError::rateLimited, "Registration failed: too many registrations"},
        {"register", 500, "", APIError::badResponse,
         "Registration failed: the service gave no usable token"},
        {"register", 403, "", APIError::unauthorized,
         "Registration failed: the service refused to register this computer; ask its operator "
         "for an invitation code and run sayloft-cli register --invite CODE"},
        {"register", 403, "", APIError::unauthorized,
         "注册失败：服务拒绝为这台电脑注册；请向服务的运营者索取邀请码", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        CliRig rig(answering(row.status, row.body));
        const auto file = rig.scratch.write("a.wav", toneWav(16000, 1, 0.1));
        const Outcome result =
            row.command == std::string("register")
                ? rig.run({"register"}, row.chinese)
                : rig.run({"--token=t", "transcribe", file.string()}, row.chinese);
        // Each failure its own status, counted from 10.
        EXPECT_EQ(result.status, 10 + static_cast<int>(row.error));
        expectOwnText(result, row.text);
    }
    CliRig rig(answering(200, ""));
    const Outcome offline = rig.run({"--service", unreachableService(), "register"});
    EXPECT_EQ(offline.status, SayloftCli::exitCodeFor(APIError::network));
    expectOwnText(offline, "Registration failed: the service could not be reached");
}

TEST(SayloftCli, UnreadableInputGetsAOneLineErrorNamingTheProblem) {
    CliRig rig(answering(200, R"({"text":"never","duration":1})"));
    std::string truncated = toneWav(16000, 1, 0.1);
    truncated.resize(truncated.size() - 100);
    const std::pair<std::string, std::string> files[] = {
        {"notes.wav", "just some text"},
        {"short.wav", truncated},
    };
    for (const auto& [name, bytes] : files) {
        const auto file = rig.scratch.write(name, bytes);
        const Outcome result = rig.run({"transcribe", file.string(), "--token", "t"});
        EXPECT_EQ(result.status, SayloftCli::badInput) << name;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(name), std::string::npos) << result.err;
    }
    const Outcome missing =
        rig.run({"transcribe", (rig.scratch.path() / "absent.wav").string(), "--token", "t"});
    EXPECT_EQ(missing.status, SayloftCli::badInput);
    EXPECT_EQ(rig.server.requestCount(), 0u);
}

TEST(SayloftCli, RegisterStoresTheServiceToken) {
    CliRig rig(answering(200, R"({"token":"fresh-token"})"));
    const Outcome result = rig.run({"register"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(rig.server.requests().at(0).path, "/v1/register");
    EXPECT_EQ(KeychainStore(rig.scratch.path() / "data").loadToken(), "fresh-token");

    const Outcome invited = rig.run({"register", "--invite", "9d2f4b7c1e8a6053"});
    EXPECT_EQ(invited.status, 0) << invited.err;
    EXPECT_FALSE(rig.server.requests().at(0).headers.contains("Sayloft-Invite"));
    const auto headers = rig.server.requests().at(1).headers;
    EXPECT_EQ(headers.find("Sayloft-Invite")->second, "9d2f4b7c1e8a6053");

    CliRig refusing(answering(200, R"({"token":""})"));
    EXPECT_EQ(refusing.run({"register"}).status, SayloftCli::exitCodeFor(APIError::badResponse));
    EXPECT_EQ(KeychainStore(refusing.scratch.path() / "data").loadToken(), std::nullopt);

    CliRig closed(answering(404, "not found"));
    const Outcome notOffered = closed.run({"register"});
    EXPECT_EQ(notOffered.status, SayloftCli::otherFailure);
    EXPECT_NE(notOffered.err.find("does not offer registration"), std::string::npos);
}

TEST(SayloftCli, PingReportsWhetherTheServiceAnswered) {
    CliRig rig(answering(200, "ok"));
    const Outcome up = rig.run({"ping"});
    EXPECT_EQ(up.status, 0);
    EXPECT_NE(up.out.find("HTTP 200"), std::string::npos);
    EXPECT_EQ(rig.server.requests().at(0).path, "/health");

    EXPECT_EQ(rig.run({"--service", unreachableService(), "ping"}).status,
              SayloftCli::exitCodeFor(APIError::network));
}

TEST(SayloftCli, CommandLineMistakesAreUsageErrors) {
    CliRig rig(answering(200, ""));
    const std::vector<std::string> mistakes[] = {
        {},
        {"dance"},
        {"transcribe", "a.wav", "b.wav"},
        {"ping", "extra"},
        {"--bogus", "ping"},
        {"--service"},
        {"--service", "ftp://host", "ping"},
        {"--service", "http://host/path", "ping"},
        {"token", "get", "x"},
        {"hotkey", "down"},
        {"ping", "--invite", "9d2f4b7c1e8a6053"},
        {"register", "--invite", "two words"},
        {"words", "clear"},
    };
    for (const auto& args : mistakes) {
        const Outcome result = rig.run(args);
        EXPECT_EQ(result.status, SayloftCli::usage) << ::testing::PrintToString(args);
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_EQ(rig.server.requestCount(), 0u);

    const Outcome help = rig.run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* topic : {"transcribe FILE.wav", "--invite CODE", "words add WORD..."}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
}

TEST(SayloftCli, RefusesToSendTheTokenOverPlainHttpToARemoteHost) {
    CliRig rig(answering(200, ""));
    const auto file = rig.scratch.write("a.wav", toneWav(16000, 1, 0.1));
    const Outcome result = rig.run(
        {"--service", "http://192.0.2.1:8177", "--token", "t", "transcribe", file.string()});
    EXPECT_EQ(result.status, SayloftCli::exitCodeFor(APIError::network));
    EXPECT_NE(result.err.find("plain http"), std::string::npos);
    EXPECT_EQ(rig.server.requestCount(), 0u);
}

TEST(SayloftCli, TokenSetStoresOnlyABearerToken) {
    CliRig rig(answering(200, ""));
    const KeychainStore store(rig.scratch.path() / "data");
    for (const char* bad : {"two words", "a=b"}) {
        EXPECT_EQ(rig.run({"token", "set", bad}).status, SayloftCli::badInput) << bad;
    }
    EXPECT_FALSE(store.loadToken().has_value());
    const Outcome stored = rig.run({"token", "set", "sl1.AbC-_9~+/x.y=="});
    EXPECT_EQ(stored.status, 0) << stored.err;
    EXPECT_EQ(store.loadToken(), "sl1.AbC-_9~+/x.y==");
}

TEST(SayloftCli, HotkeyWithoutSayloftsCookieSaysWhyAndFails) {
    CliRig rig(answering(200, ""));
    const SayloftCli cli({rig.scratch.path() / "data",
                          rig.server.url(),
                          false,
                          {},
                          rig.scratch.path() / "runtime",
                          1});
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli.run({"hotkey", "press"}, out, err), SayloftCli::otherFailure);
    EXPECT_NE(err.str().find("Sayloft is not running"), std::string::npos) << err.str();
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

// Every file and folder under root with its bytes and permissions.
std::map<std::filesystem::path, std::pair<std::string, std::filesystem::perms>> snapshot(
    const std::filesystem::path& root) {
    std::map<std::filesystem::path, std::pair<std::string, std::filesystem::perms>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string bytes = "(folder)";
        if (!entry.is_directory()) {
            bytes = test::readAll(entry.path());
        }
        files[entry.path()] = {std::move(bytes), entry.status().permissions()};
    }
    return files;
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
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // relative path, bytes
        const char* reported;
        std::string environment = "LANGUAGE=en";
    };
    const Case cases[] = {
        {"a broken settings file and the earlier token layout",
         {{"config/Sayloft/defaults.json", "{\"hotkeyKeyCode\": 58,"},
          {"data/Wordcast/device_token", "old-token\n"}},
         "MISSING  settings:"},
        {"a malformed token, readable by others",
         {{"data/Sayloft/device_token", "two words\n"}},
         "holds no token"},
        {"a Wayland session, in English",
         {},
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
        const Outcome doctor = runProgram(
            "-u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS " + c.environment +
                " XDG_DATA_HOME=" + (scratch.path() / "data").string() +
                " XDG_CONFIG_HOME=" + (scratch.path() / "config").string() +
                " XDG_RUNTIME_DIR=" + runtime.path().string(),
            "--service http://127.0.0.1:" + std::to_string(testing::unusedPort()) + " doctor");
        EXPECT_EQ(snapshot(scratch.path()), before) << c.name;
        EXPECT_NE(doctor.out.find(c.reported), std::string::npos) << c.name << "\n" << doctor.out;
    }
}

TEST(SayloftCli, HotkeyNameIsTheStoredHotkey) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "Right Alt\n"},
        {R"({"hotkeyKeyCode": 58})", "Left Alt\n"},
        {R"({"hotkeyKeyCode": 55})", "Left Super\n"},
        {R"({"hotkeyKeyCode": "58"})", "Right Alt\n"},
        {"{broken", "Right Alt\n"},
    };
    for (const auto& [stored, name] : rows) {
        Scratch scratch;
        if (!stored.empty()) {
            scratch.write("config/Sayloft/defaults.json", stored);
        }
        const auto before = snapshot(scratch.path());
        const SayloftCli cli({scratch.path() / "data", Url::parse("http://127.0.0.1:1").value(),
                              false, scratch.path() / "config"});
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(cli.run({"hotkey", "name"}, out, err), SayloftCli::ok) << stored;
        EXPECT_EQ(out.str(), name) << stored;
        EXPECT_EQ(snapshot(scratch.path()), before) << stored;
    }
}

TEST(SayloftCli, WordsAddListAndRemoveEditTheWordsFileAndLeaveABrokenOneAlone) {
    Scratch scratch;
    const SayloftCli cli({scratch.path() / "data", Url::parse("http://127.0.0.1:1").value(), false,
                          scratch.path() / "config"});
    const auto run = [&](std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli.run(args, out, err);
        return Outcome{status, out.str(), err.str()};
    };
    struct Step {
        std::vector<std::string> args;
        int status;
        std::string listed;  // `words list` afterwards
    };
    const Step steps[] = {
        {{"words", "list"}, SayloftCli::ok, ""},
        {{"words", "add", "Sayloft", " Kubernetes   cluster"},
         SayloftCli::ok,
         "Sayloft\nKubernetes cluster\n"},
        {{"words", "add", "Sayloft", "#tag", std::string(101, 'a')},
         SayloftCli::badInput,
         "Sayloft\nKubernetes cluster\n"},
        {{"words", "remove", "Sayloft", "Nowhere"},
         SayloftCli::otherFailure,
         "Kubernetes cluster\n"},
    };
    for (const auto& step : steps) {
        const auto result = run(step.args);
        EXPECT_EQ(result.status, step.status) << step.args[1] << ": " << result.err;
        EXPECT_EQ(run({"words", "list"}).out, step.listed) << step.args[1];
    }
    scratch.write("config/Sayloft/words.txt", "caf\xe9\n");
    const auto before = snapshot(scratch.path());
    const auto refused = run({"words", "add", "x"});
    EXPECT_EQ(refused.status, SayloftCli::badInput);
    EXPECT_NE(refused.err.find("not UTF-8 text"), std::string::npos) << refused.err;
    EXPECT_EQ(snapshot(scratch.path()), before);
}

// The installed program, as a process: exit status and output of the real binary.
TEST(SayloftCliProgram, RunsAsAProcess) {
    CliRig rig(answering(200, R"({"text":"from the binary","duration":0.1})"));
    const auto file = rig.scratch.write("a.wav", toneWav(44100, 1, 0.1));
    const Outcome result = runProgram(
        "", "--service " + rig.server.url().text() + " --token t transcribe " + file.string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "from the binary\n");
}

}  // namespace
}  // namespace sayloft
