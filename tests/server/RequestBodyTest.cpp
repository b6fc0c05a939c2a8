// What a request's body may be and how it must arrive: a multipart form, an audio/L16 stream,
// and the deadlines of each stage of a connection.

#include <gtest/gtest.h>

#include "server/AudioStreamSink.h"
#include "server/ConnectionDeadlines.h"
#include "server/MultipartForm.h"

namespace sayloft {
namespace {

std::string part(const std::string& disposition, const std::string& content) {
    return "--B\r\nContent-Disposition: form-data; " + disposition +
           "\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n";
}

TEST(MultipartForm, FindsTheBoundaryInTheContentType) {
    const std::pair<const char*, const char*> found[] = {
        {"multipart/form-data; boundary=wordcast-1", "wordcast-1"},
        {"multipart/form-data;charset=utf-8; BOUNDARY=\"a b\"", "a b"},
    };
    for (const auto& [header, boundary] : found) {
        EXPECT_EQ(MultipartForm::boundaryOf(header, nullptr), boundary) << header;
    }
    for (const char* header : {"multipart/form-data", "multipart/form-data; boundary=",
                               "multipart/form-data; boundary=\"open"}) {
        std::string error;
        EXPECT_FALSE(MultipartForm::boundaryOf(header, &error)) << header;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(MultipartForm::boundaryOf("x; boundary=" + std::string(71, 'b'), nullptr));
}

TEST(MultipartForm, ReadsThePartsAsSent) {
    const std::string body = "preamble\r\n" +
                             part("name=\"file\"; filename=\"a.wav\"", "RIFF\r\n--Bx") +
                             part("name=\"app_version\"", "1.2") + "--B--\r\nepilogue";
    const auto form = MultipartForm::parse(body, "B", {}, nullptr);
    ASSERT_TRUE(form);
    ASSERT_EQ(form->parts().size(), 2u);
    EXPECT_EQ(form->find("file")->content, "RIFF\r\n--Bx");  // a near-delimiter is content
    EXPECT_EQ(form->find("file")->filename, "a.wav");
    EXPECT_EQ(form->find("app_version")->content, "1.2");
    EXPECT_EQ(form->find("platform"), nullptr);
    EXPECT_TRUE(MultipartForm::parse("--B--\r\n", "B", {}, nullptr)->parts().empty());
}

TEST(MultipartForm, RefusesMalformedAndOversizedForms) {
    const std::string good = part("name=\"a\"", "1") + "--B--\r\n";
    MultipartForm::Limits tight;
    tight.maxParts = 2;
    tight.maxPartHeaderBytes = 100;
    const std::pair<const char*, std::string> cases[] = {
        {"wrong boundary", part("name=\"a\"", "1") + "--C--\r\n"},
        {"no closing delimiter", good.substr(0, good.size() - 4)},
        {"no line break after the delimiter", "--Bjunk\r\n\r\n1\r\n--B--\r\n"},
        {"no Content-Disposition", "--B\r\nContent-Type: text/plain\r\n\r\n1\r\n--B--\r\n"},
        {"a part without a name", part("filename=\"x\"", "1") + "--B--\r\n"},
        {"not form-data", "--B\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\n1\r\n--B--"},
        {"too many parts",
         part("name=\"a\"", "1") + part("name=\"b\"", "2") + part("name=\"c\"", "3") + "--B--\r\n"},
        {"too many header bytes", "--B\r\nContent-Disposition: form-data; name=\"a\"\r\nX: " +
                                      std::string(200, 'x') + "\r\n\r\n1\r\n--B--\r\n"},
    };
    for (const auto& [what, body] : cases) {
        std::string error;
        EXPECT_FALSE(MultipartForm::parse(body, "B", tight, &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
    EXPECT_TRUE(MultipartForm::parse(good, "B", tight, nullptr));
}

// Notes whether the sink finished it.
struct FinishedStream : RecognitionStream {
    explicit FinishedStream(bool& flag) : finished(flag) {}
    void feed(std::span<const std::int16_t>) override {}
    SpeechRecognizer::Result finish() override {
        finished = true;
        return {true, "words", 0, {}, 0};
    }
    bool& finished;
};

TEST(AudioStreamSink, AcceptsOnlySixteenKilohertzMonoL16) {
    const std::pair<const char*, bool> cases[] = {
        {"audio/L16; rate=16000; channels=1", true},
        {"AUDIO/l16;Channels=1;RATE=16000", true},
        {"audio/L16; rate=8000; channels=1", false},
        {"audio/L16", false},
        {"audio/L16; rate=16000; rate=16000", false},
        {"audio/L16; rate=16000; endian=little", false},
        {"multipart/form-data; boundary=x", false},
    };
    for (const auto& [type, accepted] : cases) {
        EXPECT_EQ(AudioStreamSink::acceptsContentType(type), accepted) << type;
    }
}

TEST(AudioStreamSink, RefusesTooMuchAnOddByteOrNothing) {
    struct Case {
        const char* what;
        std::string body;
        int writeStatus, finishStatus;  // writeStatus 0: every write accepted
    };
    const Case cases[] = {
        {"past the limit", std::string(32'002, '\0'), 413, 0},
        {"at the limit", std::string(32'000, '\0'), 0, 200},
        {"an odd byte count", std::string(3, '\0'), 0, 400},
        {"no sample", "", 0, 400},
    };
    for (const auto& k : cases) {
        bool finished = false;
        AudioStreamSink sink(std::make_unique<FinishedStream>(finished), 1.0);
        const auto refused = sink.write(k.body);
        EXPECT_EQ(refused ? refused->status : 0, k.writeStatus) << k.what;
        if (!refused) {
            EXPECT_EQ(sink.finish().status, k.finishStatus) << k.what;
        }
        EXPECT_EQ(finished, k.finishStatus == 200) << k.what;
    }
}

using Stage = ConnectionDeadlines::Stage;
using Verdict = ConnectionDeadlines::Verdict;
using std::chrono::milliseconds;

TEST(ConnectionDeadlines, EachStageHasItsOwnLimit) {
    const ConnectionDeadlines::Limits limits;  // 10 s head, 10 s grace at 4096 B/s, 65 s / 5 s idle
    const auto t0 = ConnectionDeadlines::Clock::time_point{} + std::chrono::hours(1);
    struct Case {
        const char* what;
        Stage stage;
        milliseconds elapsed;
        std::uint64_t bodyBytes;
        bool busy, stopping;
        milliseconds requestDeadline;  // the route's own, from the headers
        Verdict verdict;
    };
    const milliseconds none{0}, stream{65'000};
    const Case cases[] = {
        {"idle past keep-alive", Stage::waiting, milliseconds(65'001), 0, false, false, none,
         Verdict::idle},
        {"idle while busy", Stage::waiting, milliseconds(5'001), 0, true, false, none,
         Verdict::idle},
        {"idle at a stop", Stage::waiting, milliseconds(0), 0, false, true, none,
         Verdict::stopping},
        {"headers past it, however busy they look", Stage::head, milliseconds(10'001), 0, false,
         false, none, Verdict::headTooSlow},
        {"headers at a stop finish", Stage::head, milliseconds(1), 0, false, true, none,
         Verdict::keep},
        {"body at the minimum rate", Stage::body, milliseconds(20'000), 20 * 4096, false, false,
         none, Verdict::keep},
        {"body under it after the grace", Stage::body, milliseconds(20'000), 20 * 4096 - 1, false,
         false, none, Verdict::bodyTooSlow},
        {"live 16 kHz audio for 60 s", Stage::body, milliseconds(60'000), 60 * 32'000, false, false,
         none, Verdict::keep},
        {"a stream past it, however fast", Stage::body, milliseconds(65'001), 65 * 32'000, false,
         false, stream, Verdict::requestTooLong},
        {"a stream too slow within it", Stage::body, milliseconds(20'000), 20 * 4096 - 1, false,
         false, stream, Verdict::bodyTooSlow},
        {"working takes its time", Stage::working, milliseconds(3'600'000), 0, true, true, none,
         Verdict::keep},
    };
    for (const auto& k : cases) {
        const ConnectionDeadlines::Observation seen{k.stage, t0, k.bodyBytes, k.requestDeadline};
        EXPECT_EQ(ConnectionDeadlines::judge(seen, t0 + k.elapsed, limits, k.busy, k.stopping),
                  k.verdict)
            << k.what;
    }
}

}  // namespace
}  // namespace sayloft
