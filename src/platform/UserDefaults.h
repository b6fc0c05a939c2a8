#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace sayloft {

// The user's settings, typed values by key, kept between runs. Reading a key that is absent or
// holds a value of another type yields nullopt. Main thread only.
class UserDefaults {
public:
    using Date = std::chrono::system_clock::time_point;

    virtual ~UserDefaults() = default;

    virtual std::optional<std::int64_t> integer(const std::string& key) const = 0;
    virtual std::optional<bool> boolean(const std::string& key) const = 0;
    virtual std::optional<Date> date(const std::string& key) const = 0;
    virtual std::optional<std::string> text(const std::string& key) const = 0;

    // Each change is stored at once; a value that cannot be written is kept for this run.
    virtual void setInteger(const std::string& key, std::int64_t value) = 0;
    virtual void setBoolean(const std::string& key, bool value) = 0;
    virtual void setDate(const std::string& key, Date value) = 0;
    virtual void setText(const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& key) = 0;
};

}  // namespace sayloft
