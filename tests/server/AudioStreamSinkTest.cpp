#include <gtest/gtest.h>

#include "server/AudioStreamSink.h"

namespace sayloft {
namespace {

// Records what the sink feeds it.
class RecordingStream : public RecognitionStream {
public:
    explicit RecordingStream(std::vector<std::int16_t>& fed, bool& finished)
        : fed_(fed), finished_(finished) {}
    void feed(std::span<const std::int16_t> samples) override {
        fed_.insert(fed_.end(), samples.begin(), samples.end());
    }
    SpeechRecognizer::Result finish() override {
        finished_ = true;
        return {true, "words", 0, {}, 0};
    }

private:
    std::vector<std::int16_t>& fed_;
    bool& finished_;
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

TEST(AudioStreamSink, BigEndianSamplesSplitAnywhereAreFedWholeAndAnswered) {
    const std::string body("\x00\x01\xff\xfe\x80\x00\x7f\xff", 8);
    const std::vector<std::int16_t> samples = {1, -2, -32768, 32767};
    for (std::size_t cut1 = 0; cut1 <= body.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= body.size(); ++cut2) {
            std::vector<std::int16_t> fed;
            bool finished = false;
            AudioStreamSink sink(std::make_unique<RecordingStream>(fed, finished), 60);
            for (const auto& piece :
                 {body.substr(0, cut1), body.substr(cut1, cut2 - cut1), body.substr(cut2)}) {
                EXPECT_FALSE(sink.write(piece));
            }
            const auto answer = sink.finish();
            EXPECT_EQ(fed, samples) << cut1 << "," << cut2;
            EXPECT_EQ(answer.status, 200);
            EXPECT_EQ(answer.body, R"({"duration":0.00025,"text":"words"})");
        }
    }
}

TEST(AudioStreamSink, RefusesTooMuchAnOddByteOrNothing) {
    struct Case {
        const char* what;
        std::string body;
        int writeStatus;  // 0: every write accepted
        int finishStatus;
    };
    const Case cases[] = {
        {"past the limit", std::string(32'002, '\0'), 413, 0},
        {"at the limit", std::string(32'000, '\0'), 0, 200},
        {"an odd byte count", std::string(3, '\0'), 0, 400},
        {"no sample", "", 0, 400},
    };
    for (const auto& k : cases) {
        std::vector<std::int16_t> fed;
        bool finished = false;
        AudioStreamSink sink(std::make_unique<RecordingStream>(fed, finished), 1.0);
        const auto refused = sink.write(k.body);
        EXPECT_EQ(refused ? refused->status : 0, k.writeStatus) << k.what;
        if (!refused) {
            EXPECT_EQ(sink.finish().status, k.finishStatus) << k.what;
        }
        EXPECT_EQ(finished, k.finishStatus == 200) << k.what;
    }
}

}  // namespace
}  // namespace sayloft
