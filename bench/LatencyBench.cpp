// The latency picture of one dictation in paste mode against the local service: from the key
// release to the text, split into its parts, for utterances of 3 s, 10 s and 30 s, and the time
// from the key press to the first captured block. Prints a table of medians (milliseconds).
//
// What is measured, each part with the real code where the part is ours:
//   stop         Recorder::stop() on the real PulseAudio engine (the wait for the audio still on
//                its way, the partial block, the converter's tail), after 0.5 s of a tone in the
//                virtual microphone. Samples are moved, not copied, so it does not grow with the
//                utterance: it is measured on short recordings.
//   encode       Recorder::encodeWav of the utterance (flite's slt voice, 16 kHz).
//   upload       one attempt of APIClient's transcription request (transcribeRequest and
//                transcribeOnce, without the hedge) against a real sayloft-server process
//                (built-in recogniser, one decoder) over loopback TCP, minus the recognition time
//                the service reports in its Server-Timing header: the request's building, transfer,
//                parsing on both sides and the answer.
//   recognition  what the service reports.
//   insertion    TextInserter's paste on the main thread (clipboard and Shift+Insert) with the
//                fake desktop: our side only, not the X server or the receiving application.
//   first block  Recorder::start() to the first 4096-frame block at the tap (85 ms of audio at
//                48 kHz are in it by then); nothing is lost meanwhile.
//   streamed     the same utterance through APIClient::openStream, appended in 100 ms blocks at
//                the pace of speech (the first 0.4 s at once), then the time finish() takes to
//                bring the transcript after the last block: what is left after the release when
//                the service recognised while the key was held. Release to text streamed is
//                stop + that + insertion.
//
// Needs flite and the PulseAudio server of the private session:
//   scripts/desktop-session build/ci/bench/sayloft_latency_bench [rounds]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "BlockCounter.h"
#include "ServerProcess.h"
#include "ServerTimingTransport.h"
#include "TonePlayer.h"
#include "app/TextInserter.h"
#include "core/audio/PcmConverter.h"
#include "core/audio/Recorder.h"
#include "core/audio/WavReader.h"
#include "core/model/APIFailure.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/SteadySleeper.h"
#include "fakes/FakeDesktop.h"
#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"

namespace {

using namespace sayloft;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// `seconds` of flite's slt voice at 16 kHz mono, the sentence repeated as often as needed.
std::vector<std::int16_t> speech(double seconds) {
    const std::string sentence =
        "the quick brown fox jumps over the lazy dog while seven friends watch the evening news. ";
    std::string text;
    for (double spoken = 0; spoken < seconds + 4; spoken += 4) {
        text += sentence;
    }
    const std::string file = "/tmp/sayloft-latency-bench-" + std::to_string(::getpid()) + ".wav";
    const std::string command = "flite -voice slt -t \"" + text + "\" -o " + file;
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    std::remove(file.c_str());
    const auto wav = WavReader::decode(bytes, nullptr);
    if (!wav) {
        return {};
    }
    std::vector<std::int16_t> samples;
    PcmConverter converter(wav->sampleRate, wav->channels, 16000.0);
    converter.process(wav->samples, samples);
    converter.flush(samples);
    samples.resize(static_cast<std::size_t>(seconds * 16000));  // cut, or padded with silence
    return samples;
}

struct Row {
    double seconds;
    std::vector<double> encode, upload, recognition, insertion;
    std::vector<double> streamFinish;  // the streamed path: the end sent to the transcript
};

// The streamed path of one utterance: the samples appended in 100 ms blocks at the pace they are
// spoken (the first 0.4 s at once, as the application does once the hold is long enough), then,
// at the "release", the time finish() takes to bring the transcript.
double streamOnce(const APIClient& client, const std::string& token,
                  const std::vector<std::int16_t>& samples, TranscribeResult* result) {
    constexpr std::size_t block = 1600;
    constexpr std::size_t head = 6400;
    auto stream = client.openStream(token);
    const auto began = Clock::now();
    std::size_t sent = std::min(head, samples.size());
    stream->append(std::span(samples).first(sent));
    while (sent < samples.size()) {
        const std::size_t next = std::min(sent + block, samples.size());
        std::this_thread::sleep_until(began + std::chrono::microseconds(next * 1000000 / 16000));
        stream->append(std::span(samples).subspan(sent, next - sent));
        sent = next;
    }
    const auto released = Clock::now();
    *result = stream->finish({});
    return msSince(released);
}

}  // namespace

int run(int argc, char** argv);

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const APIFailure& failure) {
        std::fprintf(stderr, "the service failed: APIError %d\n", static_cast<int>(failure.error));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
    }
    return 1;
}

int run(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    // The microphone: stop and press to first block.
    auto connection = std::make_shared<PulseConnection>();
    if (!connection->connect() || !connection->defaultSource()) {
        std::fprintf(stderr, "no PulseAudio server with a default source\n");
        return 1;
    }
    test::TonePlayer player("sayloft_mic");
    player.playBurst(440, 0.3, 4800, true);  // a tone on from here, so that blocks keep coming
    test::BlockCounter counter;
    Recorder recorder(counter.wrap(PulseAudioEngine::factory(connection)));
    recorder.start();  // an idle null sink delivers its first audio late: settle once
    counter.waitFor(counter.blocks() + 12);
    recorder.stop();
    std::vector<double> firstBlock;
    std::vector<double> stop;
    for (int i = 0; i < 3 * rounds; ++i) {
        const std::size_t before = counter.blocks();
        const auto pressed = Clock::now();
        recorder.start();
        if (!counter.waitFor(before + 1)) {
            std::fprintf(stderr, "no audio from the microphone\n");
            return 1;
        }
        firstBlock.push_back(msSince(pressed));
        counter.waitFor(before + 6);
        const auto released = Clock::now();
        recorder.stop();
        stop.push_back(msSince(released));
    }

    // The service and its client.
    test::ServerProcess server({"--decoders", "1", "--rate-burst", "1000"});
    if (!server.started()) {
        std::fprintf(stderr, "sayloft-server did not start\n");
        return 1;
    }
    // A longer idle limit than the application's: on a loaded machine the recognition of 30 s
    // can take longer than Config::requestTimeout, and the split is what is measured here.
    CurlSession::Options options;
    options.idleTimeout = std::chrono::seconds(300);
    auto transport =
        std::make_shared<bench::ServerTimingTransport>(std::make_unique<CurlSession>(options));
    const APIClient client(
        *Url::parse("http://127.0.0.1:" + std::to_string(server.port())), transport,
        [] { return std::make_unique<CurlSession>(); }, std::make_shared<SteadySleeper>());
    const std::string token = client.registerDevice();

    // Insertion, paste mode, with the fake desktop.
    test::FakeUserDefaults defaults;
    test::FakePasteboard pasteboard;
    test::FakeKeyboardEvents keyboard;
    TextInserter inserter(defaults, pasteboard, keyboard, nullptr);

    std::vector<Row> rows;
    for (const double seconds : {3.0, 10.0, 30.0}) {
        const auto samples = speech(seconds);
        if (samples.empty()) {
            std::fprintf(stderr, "flite (Debian package flite) is needed\n");
            return 1;
        }
        Row row{seconds, {}, {}, {}, {}, {}};
        for (int i = 0; i < rounds; ++i) {
            auto begin = Clock::now();
            const auto wav = Recorder::encodeWav(samples, 16000);
            row.encode.push_back(msSince(begin));

            begin = Clock::now();
            // One attempt, as the hedged request's first: a hedge or its deadline would mix
            // the policy into the split.
            const TranscribeResult result =
                APIClient::transcribeOnce(client.transcribeRequest(token, wav), *transport);
            const double total = msSince(begin);
            row.recognition.push_back(transport->recognitionMs());
            row.upload.push_back(total - transport->recognitionMs());

            begin = Clock::now();
            inserter.insert(result.text);
            row.insertion.push_back(msSince(begin));
            std::fprintf(stderr, "%.0f s: %.0f ms in all, recognition %.0f ms: %s\n", seconds,
                         total, transport->recognitionMs(), result.text.substr(0, 60).c_str());

            TranscribeResult streamed;
            row.streamFinish.push_back(streamOnce(client, token, samples, &streamed));
            std::fprintf(stderr, "%.0f s streamed: %.0f ms after the end: %s%s\n", seconds,
                         row.streamFinish.back(), streamed.text.substr(0, 60).c_str(),
                         streamed.text == result.text ? "" : " (differs from one-shot)");
        }
        rows.push_back(std::move(row));
    }

    std::printf("press to first block: %.1f ms (median of %zu)\n", median(firstBlock),
                firstBlock.size());
    std::printf(
        "| utterance | stop | encode | upload | recognition | insertion | all but "
        "recognition | one-shot release to text | streamed: end to transcript | streamed "
        "release to text |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        const double ours =
            median(stop) + median(row.encode) + median(row.upload) + median(row.insertion);
        const double streamed = median(stop) + median(row.streamFinish) + median(row.insertion);
        std::printf("| %.0f s | %.1f | %.2f | %.1f | %.0f | %.2f | %.1f | %.0f | %.1f | %.1f |\n",
                    row.seconds, median(stop), median(row.encode), median(row.upload),
                    median(row.recognition), median(row.insertion), ours,
                    ours + median(row.recognition), median(row.streamFinish), streamed);
    }
    return 0;
}
