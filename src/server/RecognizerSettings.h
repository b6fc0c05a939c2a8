#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sayloft {

// The search settings of the built-in recogniser: pocketsphinx arguments (beams, language
// weight, word insertion penalty, pruning limits, second passes) by their names without the
// dash. Only the arguments named here reach the decoder; every other one keeps pocketsphinx's
// default.
class RecognizerSettings {
public:
    // The settings chosen by measurement (bench/recognition/sweep on make-dev-set's recordings)
    // for the lowest word error rate at a real-time factor of at most 0.5 with one decoder per
    // core, no slower than pocketsphinx's defaults.
    static RecognizerSettings chosen();
    // pocketsphinx's own defaults: nothing overridden.
    static RecognizerSettings engineDefaults();

    // Applies "name=value" assignments separated by commas or white space ("beam=1e-60,lw=9").
    // Names must be search arguments the decoder knows (see names()), with a value in the
    // range it copes with; fwdflat/bestpath/fwdtree take yes/no. On error nothing changes and
    // *error says which.
    bool apply(std::string_view assignments, std::string* error);
    bool set(std::string_view name, std::string_view value, std::string* error);

    // The value given for name, if any.
    std::optional<std::string> value(std::string_view name) const;

    // The overrides as "-name value" pairs for pocketsphinx's command-line parser.
    std::vector<std::string> arguments() const;
    // "beam=1e-60 lw=9", or "pocketsphinx defaults" when nothing is overridden.
    std::string describe() const;

    static const std::vector<std::string_view>& names();

private:
    std::vector<std::pair<std::string, std::string>> values_;
};

}  // namespace sayloft
