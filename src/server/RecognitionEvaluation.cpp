#include "server/RecognitionEvaluation.h"

#include <cstdio>
#include <ostream>

#include "server/SpeechRecognizer.h"
#include "server/WordErrorRate.h"

namespace sayloft {

double RecognitionEvaluation::Totals::wordErrorRate() const {
    return words == 0 ? 0.0 : static_cast<double>(errors) / static_cast<double>(words);
}

double RecognitionEvaluation::Totals::realTimeFactor() const {
    return audioSeconds == 0 ? 0.0 : processingSeconds / audioSeconds;
}

RecognitionEvaluation::Totals RecognitionEvaluation::run(
    SpeechRecognizer& recognizer, const std::vector<EvaluationSet::Utterance>& set,
    const std::function<double()>& now, std::ostream& out) {
    Totals totals;
    for (const auto& utterance : set) {
        const double began = now();
        const auto result = recognizer.recognize(utterance.samples);
        totals.processingSeconds += now() - began;
        totals.audioSeconds += static_cast<double>(utterance.samples.size()) / 16000.0;
        const std::string heard = result.ok ? result.text : std::string();
        const auto errors = WordErrorRate::errors(utterance.reference, heard);
        const auto words = WordErrorRate::words(utterance.reference).size();
        totals.errors += errors;
        totals.words += words;
        totals.failures += result.ok ? 0 : 1;
        out << utterance.name << "\t" << errors << "/" << words << "\t"
            << (result.ok ? heard : "(failed: " + result.error + ")") << "\n";
    }
    return totals;
}

std::string RecognitionEvaluation::summary(const Totals& totals) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "word error rate %.1f %% (%zu of %zu words), real-time factor %.3f (%.1f s for "
                  "%.1f s of audio)",
                  100.0 * totals.wordErrorRate(), totals.errors, totals.words,
                  totals.realTimeFactor(), totals.processingSeconds, totals.audioSeconds);
    std::string text = line;
    if (totals.failures != 0) {
        text += ", " + std::to_string(totals.failures) + " failed";
    }
    return text;
}

}  // namespace sayloft
