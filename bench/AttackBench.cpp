// sayloft-server under attack, black-box over sockets: for each attack (from 127.0.0.2) the
// server's resident memory growth at its peak and afterwards, whether a well-behaved client on
// 127.0.0.1 was still served meanwhile (health within 2 s, a short transcription within 10 s),
// and what the attacker got. Prints a Markdown table and the goals, pass or fail per row; exits
// 0 whatever the figures (it is a measurement), 1 when the server does not start.
//
//   build/ci/bench/sayloft_attack_bench [--quick] [--only NUMBER] [path/to/sayloft-server]
//
// --quick shrinks every attack to a few percent, for a smoke run; --only 4 (or 1, 1b...) runs
// only the attacks so numbered.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "AttackRow.h"
#include "AttackSizes.h"
#include "AttackTarget.h"
#include "Attacks.h"
#include "RssWatch.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "WellBehavedClient.h"

namespace {

using namespace sayloft;
using namespace sayloft::bench;

struct Attack {
    std::string name;
    std::function<AttackOutcome(Attacks&)> run;
    bool clientDuring = true;  // false: the client's probes follow, so as not to disturb timings
};

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string sizeName(std::uint64_t bytes) {
    return bytes >= (1ull << 20) ? std::to_string(bytes >> 20) + " MiB"
                                 : std::to_string(bytes >> 10) + " KiB";
}

std::vector<Attack> attacksOf(const AttackSizes& s) {
    const std::string upload = sizeName(s.uploadBytes) + " chunked upload to /v1/transcribe";
    return {
        {"1a. " + upload + ", no token", [](Attacks& a) { return a.chunkedUpload(false); }},
        {"1b. " + upload + ", valid token", [](Attacks& a) { return a.chunkedUpload(true); }},
        {"2. gzip body inflating to " + sizeName(s.inflatedBytes) + ", valid token",
         [](Attacks& a) { return a.gzipBomb(); }},
        {"3. " + std::to_string(s.headerCount) + " headers of " + std::to_string(s.headerBytes) +
             " B on GET /health",
         [](Attacks& a) { return a.manyHeaders(); }},
        {"4. " + std::to_string(s.slowConnections) + " slow/idle connections for " +
             std::to_string(s.slowHold.count()) + " s",
         [](Attacks& a) { return a.slowConnections(); }},
        {"5. two pipelined GET /health in one write", [](Attacks& a) { return a.pipelined(); }},
        {"6. keep-alive vs new connection, " + std::to_string(s.latencyRequests) +
             " GET /health each",
         [](Attacks& a) { return a.keepAliveLatency(); }, false},
        {"7. " + std::to_string(s.backlogConnects) + " connects at once, nothing sent",
         [](Attacks& a) { return a.backlog(); }},
    };
}

AttackRow measure(const Attack& attack, AttackTarget& target, const AttackSizes& sizes,
                  const std::string& body, const std::string& contentType) {
    AttackRow row;
    row.attack = attack.name;
    {
        // The first recognition of a fresh server allocates the decoder's working memory: made
        // before the baseline, so that the growth is the attack's.
        WellBehavedClient warmUp(target.port(), target.clientToken(), body, contentType);
        warmUp.start();
        warmUp.stop();
    }
    RssWatch watch(target.pid());
    WellBehavedClient client(target.port(), target.clientToken(), body, contentType);
    if (attack.clientDuring) {
        client.start();
    }
    Attacks attacks(target.port(), target.attackerToken(), sizes);
    try {
        row.outcome = attack.run(attacks);
    } catch (const std::exception& e) {
        row.outcome.got = std::string("attacker failed: ") + e.what();
    }
    if (!attack.clientDuring) {
        client.start();
    }
    row.client = client.stop();
    // Time for the server to let go of what the attack made it hold.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    row.heldMiB = watch.currentGrowthMiB();
    row.peakGrowthMiB = watch.stopAndPeakGrowthMiB();
    row.serverDied = !target.alive();
    return row;
}

std::string healthCell(const WellBehavedClient::Result& r) {
    const std::string worst = "worst " + fixed(r.worstHealthMs, 0) + " ms";
    if (r.healthFailures == 0) {
        return "yes (" + worst + ")";
    }
    return "no: " + std::to_string(r.healthFailures) + " of " + std::to_string(r.healthProbes) +
           " failed (" + worst + ")";
}

std::string transcriptionCell(const WellBehavedClient::Result& r) {
    const std::string time = fixed(r.transcriptionMs, 0) + " ms";
    return r.transcribed ? "yes (" + time + ")"
                         : "no: " + r.transcriptionOutcome + " (" + time + ")";
}

std::string verdict(const AttackRow& row) {
    if (row.passed()) {
        return "pass";
    }
    std::vector<std::string> failed;
    if (row.serverDied) {
        failed.push_back("server died");
    } else if (!row.growthMet()) {
        failed.push_back("growth");
    }
    if (row.client.healthFailures > 0) {
        failed.push_back("health");
    }
    if (!row.client.transcribed) {
        failed.push_back("transcription");
    }
    if (!row.outcome.ownGoal.value_or(true)) {
        failed.push_back(row.outcome.goalName);
    }
    std::string text = "fail:";
    for (std::size_t i = 0; i < failed.size(); ++i) {
        text += (i == 0 ? " " : ", ") + failed[i];
    }
    return text;
}

void printTable(const std::vector<AttackRow>& rows) {
    std::printf(
        "| attack | RSS growth, MiB | RSS held after, MiB | health within 2 s | "
        "transcription within 10 s | attacker got | goals |\n"
        "|---|---|---|---|---|---|---|\n");
    for (const auto& row : rows) {
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.attack.c_str(),
                    row.serverDied ? "(server died)" : fixed(row.peakGrowthMiB, 1).c_str(),
                    row.heldMiB ? fixed(*row.heldMiB, 1).c_str() : "-",
                    healthCell(row.client).c_str(), transcriptionCell(row.client).c_str(),
                    row.outcome.got.c_str(), verdict(row).c_str());
    }
    std::printf(
        "\nGoals: server RSS growth under %.0f MiB in every case; the well-behaved client "
        "(127.0.0.1) always served (every GET /health answered 200 within 2 s, the transcription "
        "200 within 10 s); pipelined requests both answered in order; a reused keep-alive "
        "connection no slower than a new one beyond 2 ms (median).\n",
        AttackRow::growthGoalMiB);
}

// About 1.5 s of speech from flite's slt voice, or a tone of that length without flite; `note`
// says which.
std::string shortUtterance(std::string& note) {
    const std::string sentence = "please send the report";
    const auto file = std::filesystem::temp_directory_path() /
                      ("sayloft-attack-bench-" + std::to_string(::getpid()) + ".wav");
    const std::string command =
        "flite -voice slt -t \"" + sentence + "\" -o " + file.string() + " 2>/dev/null";
    std::string wav;
    if (std::system(command.c_str()) == 0) {
        try {
            wav = test::TestForms::wav16(test::TestForms::readWav16(file.string()), 16000);
            note = "\"" + sentence + "\" spoken by flite";
        } catch (const std::exception&) {
            wav.clear();
        }
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    if (wav.empty()) {
        wav = test::TestForms::wav16(test::TestForms::tone(1.5), 16000);
        note = "a 1.5 s tone (no flite)";
    }
    return wav;
}

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [--quick] [--only NUMBER] [path/to/sayloft-server]\n", program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string only;  // run only the attacks whose number starts so ("1", "1b", "4")
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--help" || arg == "-h" || arg.rfind("-", 0) == 0) {
            return usage(argv[0]);
        } else {
            test::ServerProcess::useBinary(arg);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    const AttackSizes sizes = quick ? AttackSizes::quick() : AttackSizes::full();

    const std::string boundary = test::TestForms::newBoundary();
    std::string audioNote;
    const std::string body = test::TestForms::transcribeBody(boundary, shortUtterance(audioNote));
    const std::string contentType = test::TestForms::contentType(boundary);

    const auto began = std::chrono::steady_clock::now();
    std::fprintf(stderr, "sayloft-server %s, %s sizes\n", test::ServerProcess::binary().c_str(),
                 quick ? "quick" : "full");
    std::vector<AttackRow> rows;
    AttackTarget target;
    for (const auto& attack : attacksOf(sizes)) {
        if (attack.name.rfind(only, 0) != 0) {
            continue;
        }
        // A fresh server for each attack, so that none inherits what an earlier one left behind
        // (memory held, busy workers) and each baseline is a server at rest.
        std::string error;
        if (!target.start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s (pid %d) ...\n", attack.name.c_str(), target.pid());
        rows.push_back(measure(attack, target, sizes, body, contentType));
        std::fprintf(stderr, "  %s\n", rows.back().outcome.got.c_str());
    }
    printTable(rows);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("\n(%s sizes, %.0f s in all; the transcription: %s)\n", quick ? "quick" : "full",
                seconds, audioNote.c_str());
    return 0;
}
