#pragma once

#include <functional>
#include <iosfwd>
#include <vector>

#include "server/EvaluationSet.h"

namespace sayloft {

class SpeechRecognizer;

// Runs recordings through a recogniser one after the other and measures word error rate
// (WordErrorRate) and real-time factor (processing time / audio time).
struct RecognitionEvaluation {
    struct Totals {
        std::size_t errors = 0;
        std::size_t words = 0;  // of the references
        std::size_t failures = 0;
        double audioSeconds = 0;
        double processingSeconds = 0;

        double wordErrorRate() const;
        double realTimeFactor() const;
    };

    // now(): a monotonic time in seconds, read before and after each recognition. Writes one
    // line per recording on `out` (name, errors/words, what was recognised) and returns the
    // totals. A failed recognition counts as nothing recognised.
    static Totals run(SpeechRecognizer& recognizer,
                      const std::vector<EvaluationSet::Utterance>& set,
                      const std::function<double()>& now, std::ostream& out);

    // "word error rate 12.3 % (45 of 366 words), real-time factor 0.210 (12.3 s for 58.4 s of
    // audio)".
    static std::string summary(const Totals& totals);
};

}  // namespace sayloft
