#pragma once

#include <cstdint>

namespace sayloft {

// A point in time as a UTC calendar date and time of day, computed by arithmetic alone (no
// gmtime, no locale, no allocation, no lock), so that a signal handler may use it. Proleptic
// Gregorian calendar; valid for every time from 1970 on.
struct UtcDateTime {
    std::int64_t year = 1970;
    int month = 1;  // 1...12
    int day = 1;    // 1...31
    int hour = 0;
    int minute = 0;
    int second = 0;

    static constexpr UtcDateTime fromUnixSeconds(std::int64_t seconds) noexcept {
        std::int64_t days = seconds / 86400;
        std::int64_t rest = seconds % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        // Days since 1970-01-01 to a civil date (H. Hinnant's civil_from_days): eras of 400
        // years, each 146097 days long, counted from 0000-03-01.
        const std::int64_t z = days + 719468;
        const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        const std::int64_t dayOfEra = z - era * 146097;
        const std::int64_t yearOfEra =
            (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const std::int64_t dayOfYear =
            dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
        UtcDateTime result;
        result.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
        result.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
        result.year = yearOfEra + era * 400 + (result.month <= 2 ? 1 : 0);
        result.hour = static_cast<int>(rest / 3600);
        result.minute = static_cast<int>(rest % 3600 / 60);
        result.second = static_cast<int>(rest % 60);
        return result;
    }
};

}  // namespace sayloft
