#pragma once

#include <map>
#include <string>
#include <variant>

#include "platform/UserDefaults.h"

namespace sayloft::test {

// Settings in memory, typed as the real store keeps them.
class FakeUserDefaults final : public UserDefaults {
public:
    using Value = std::variant<std::int64_t, bool, Date, std::string>;
    std::map<std::string, Value> values;

    std::optional<std::int64_t> integer(const std::string& key) const override {
        return get<std::int64_t>(key);
    }
    std::optional<bool> boolean(const std::string& key) const override { return get<bool>(key); }
    std::optional<Date> date(const std::string& key) const override { return get<Date>(key); }
    std::optional<std::string> text(const std::string& key) const override {
        return get<std::string>(key);
    }
    void setInteger(const std::string& key, std::int64_t value) override { values[key] = value; }
    void setBoolean(const std::string& key, bool value) override { values[key] = value; }
    void setDate(const std::string& key, Date value) override { values[key] = value; }
    void setText(const std::string& key, const std::string& value) override { values[key] = value; }
    void remove(const std::string& key) override { values.erase(key); }

private:
    template <typename T>
    std::optional<T> get(const std::string& key) const {
        const auto found = values.find(key);
        if (found == values.end() || !std::holds_alternative<T>(found->second)) {
            return std::nullopt;
        }
        return std::get<T>(found->second);
    }
};

}  // namespace sayloft::test
