#include "server/RecognizerSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace sayloft {
namespace {

// A search argument and the values it takes. pocketsphinx 5prealpha checks none of them and
// some wrong ones crash it in the middle of an utterance (a main beam of 1e-10 divides by
// zero), so the ranges are narrower than the types.
struct Argument {
    std::string_view name;
    double minimum;
    double maximum;
    enum Kind { real, whole, yesNo } kind;
};

constexpr double huge = 1e300;
constexpr Argument searchArguments[] = {
    {"beam", 1e-300, 1e-15, Argument::real},
    {"pbeam", 1e-300, 1e-15, Argument::real},
    {"lpbeam", 1e-300, 1e-15, Argument::real},
    {"fwdflatbeam", 1e-300, 1e-15, Argument::real},
    {"wbeam", 1e-300, 1e-10, Argument::real},
    {"lponlybeam", 1e-300, 1e-10, Argument::real},
    {"fwdflatwbeam", 1e-300, 1e-10, Argument::real},
    {"pl_beam", 1e-300, 1e-10, Argument::real},
    {"pl_pbeam", 1e-300, 1e-10, Argument::real},
    {"lw", 0.1, 100, Argument::real},
    {"fwdflatlw", 0.1, 100, Argument::real},
    {"bestpathlw", 0.1, 100, Argument::real},
    {"ascale", 1e-3, 1e3, Argument::real},
    {"wip", 1e-300, huge, Argument::real},
    {"nwpen", 1e-300, huge, Argument::real},
    {"pip", 1e-300, huge, Argument::real},
    {"uw", 1e-300, 1, Argument::real},
    {"silprob", 1e-300, 1, Argument::real},
    {"fillprob", 1e-300, 1, Argument::real},
    {"pl_weight", 1e-3, 1e3, Argument::real},
    {"pl_pip", 1e-300, huge, Argument::real},
    {"maxhmmpf", -1, 1e7, Argument::whole},
    {"maxwpf", -1, 1e6, Argument::whole},
    {"ds", 1, 10, Argument::whole},
    {"topn", 1, 64, Argument::whole},
    {"topn_beam", 0, 1, Argument::real},
    {"pl_window", 0, 10, Argument::whole},
    {"fwdflatefwid", 0, 100, Argument::whole},
    {"fwdflatsfwin", 0, 100, Argument::whole},
    {"fwdtree", 0, 0, Argument::yesNo},
    {"fwdflat", 0, 0, Argument::yesNo},
    {"bestpath", 0, 0, Argument::yesNo},
};

const Argument* argumentNamed(std::string_view name) {
    for (const auto& argument : searchArguments) {
        if (argument.name == name) {
            return &argument;
        }
    }
    return nullptr;
}

bool valid(const Argument& argument, const std::string& text) {
    if (argument.kind == Argument::yesNo) {
        return text == "yes" || text == "no";
    }
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(parsed) &&
           parsed >= argument.minimum && parsed <= argument.maximum &&
           (argument.kind == Argument::real || parsed == std::floor(parsed));
}

std::string expected(const Argument& argument) {
    if (argument.kind == Argument::yesNo) {
        return "yes or no";
    }
    std::ostringstream text;
    text << (argument.kind == Argument::whole ? "a whole number" : "a number") << " from "
         << argument.minimum << " to " << argument.maximum;
    return text.str();
}

}  // namespace

const std::vector<std::string_view>& RecognizerSettings::names() {
    static const std::vector<std::string_view> known = [] {
        std::vector<std::string_view> out;
        for (const auto& argument : searchArguments) {
            out.push_back(argument.name);
        }
        return out;
    }();
    return known;
}

RecognizerSettings RecognizerSettings::engineDefaults() {
    return {};
}

RecognizerSettings RecognizerSettings::chosen() {
    // On the development set (bench/recognition/make-dev-set, 42 recordings), with the mean
    // normalisation measured on each utterance's first two seconds (PocketSphinxUtterance),
    // pocketsphinx's defaults gave 24.3 % of words wrong; every change tried did worse (lw 7:
    // 26.9 %, fillprob 1e-4: 25.0 %, lw 7 with fillprob 1e-4: 26.1 %), and wider beams, no
    // pruning limit or more Gaussians (topn) bought nothing at up to twice the time, so
    // recognition while the key is held has no reason to use other settings either.
    return engineDefaults();
}

bool RecognizerSettings::set(std::string_view name, std::string_view value, std::string* error) {
    const auto fail = [&](std::string reason) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return false;
    };
    const Argument* argument = argumentNamed(name);
    if (argument == nullptr) {
        return fail("unknown search setting '" + std::string(name) + "'");
    }
    const std::string text(value);
    if (!valid(*argument, text)) {
        return fail("invalid value '" + text + "' for search setting " + std::string(name) + " (" +
                    expected(*argument) + ")");
    }
    const auto same = std::find_if(values_.begin(), values_.end(),
                                   [&](const auto& entry) { return entry.first == name; });
    if (same != values_.end()) {
        same->second = text;
    } else {
        values_.emplace_back(std::string(name), text);
    }
    return true;
}

bool RecognizerSettings::apply(std::string_view assignments, std::string* error) {
    RecognizerSettings changed = *this;
    std::size_t at = 0;
    while (at < assignments.size()) {
        const auto end = assignments.find_first_of(", \t\n", at);
        const auto item = assignments.substr(at, end == std::string_view::npos ? end : end - at);
        at = end == std::string_view::npos ? assignments.size() : end + 1;
        if (item.empty()) {
            continue;
        }
        const auto eq = item.find('=');
        if (eq == std::string_view::npos) {
            if (error != nullptr) {
                *error = "search setting '" + std::string(item) + "' is not name=value";
            }
            return false;
        }
        if (!changed.set(item.substr(0, eq), item.substr(eq + 1), error)) {
            return false;
        }
    }
    *this = std::move(changed);
    return true;
}

std::optional<std::string> RecognizerSettings::value(std::string_view name) const {
    for (const auto& [key, text] : values_) {
        if (key == name) {
            return text;
        }
    }
    return std::nullopt;
}

std::vector<std::string> RecognizerSettings::arguments() const {
    std::vector<std::string> out;
    for (const auto& [name, text] : values_) {
        out.push_back("-" + name);
        out.push_back(text);
    }
    return out;
}

std::string RecognizerSettings::describe() const {
    if (values_.empty()) {
        return "pocketsphinx defaults";
    }
    std::string out;
    for (const auto& [name, text] : values_) {
        out += (out.empty() ? "" : " ") + name + "=" + text;
    }
    return out;
}

}  // namespace sayloft
