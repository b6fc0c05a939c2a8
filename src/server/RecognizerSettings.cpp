#include "server/RecognizerSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sayloft {
namespace {

bool isSwitch(std::string_view name) {
    return name == "fwdflat" || name == "bestpath" || name == "fwdtree";
}

bool isNumber(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(parsed);
}

}  // namespace

const std::vector<std::string_view>& RecognizerSettings::names() {
    // The search arguments of pocketsphinx 5prealpha (ps_args(): its beam, search and
    // language-model groups) that change accuracy or speed, not the model files.
    static const std::vector<std::string_view> known = {
        "beam",         "wbeam",        "pbeam",        "lpbeam",   "lponlybeam", "fwdflatbeam",
        "fwdflatwbeam", "pl_window",    "pl_beam",      "pl_pbeam", "lw",         "fwdflatlw",
        "bestpathlw",   "wip",          "pip",          "silprob",  "fillprob",   "uw",
        "maxhmmpf",     "maxwpf",       "ds",           "topn",     "fwdflat",    "bestpath",
        "fwdtree",      "fwdflatefwid", "fwdflatsfwin", "ascale",   "nwpen",      "pl_weight",
        "pl_pip",       "topn_beam"};
    return known;
}

RecognizerSettings RecognizerSettings::engineDefaults() {
    return {};
}

RecognizerSettings RecognizerSettings::chosen() {
    RecognizerSettings settings;
    settings.apply("", nullptr);
    return settings;
}

bool RecognizerSettings::set(std::string_view name, std::string_view value, std::string* error) {
    const auto fail = [&](std::string reason) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return false;
    };
    const auto& known = names();
    if (std::find(known.begin(), known.end(), name) == known.end()) {
        return fail("unknown search setting '" + std::string(name) + "'");
    }
    const std::string text(value);
    const bool valid = isSwitch(name) ? text == "yes" || text == "no" : isNumber(text);
    if (!valid) {
        return fail("invalid value '" + text + "' for search setting " + std::string(name) +
                    (isSwitch(name) ? " (yes or no)" : " (a number)"));
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
