#pragma once

#include <string>

namespace sayloft {

// Random (version 4) UUIDs in the canonical text form with upper-case hexadecimal digits,
// "XXXXXXXX-XXXX-4XXX-[89AB]XXX-XXXXXXXXXXXX" (36 characters).
struct Uuid {
    // 122 random bits from the system's random source (getrandom). Throws std::system_error if
    // the source cannot be read.
    static std::string randomV4();
};

}  // namespace sayloft
