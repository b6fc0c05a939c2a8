#pragma once

#include <string>

namespace sayloft {

// One line of `sayloft-cli doctor`: what was checked, what was found and, when it is missing,
// what to do about it.
struct DoctorCheck {
    std::string name;  // "X display"
    bool ok = false;
    std::string found;   // what was seen (":0", "no answer from ...")
    std::string advice;  // what to do when !ok; empty when ok

    // "ok       X display: :0" or "MISSING  XTEST: not offered by :0 -> <advice>".
    std::string line() const {
        std::string text = (ok ? "ok       " : "MISSING  ") + name + ": " + found;
        if (!ok && !advice.empty()) {
            text += " -> " + advice;
        }
        return text;
    }
};

}  // namespace sayloft
