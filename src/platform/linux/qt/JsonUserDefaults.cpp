#include "platform/linux/qt/JsonUserDefaults.h"

namespace sayloft {

JsonUserDefaults::JsonUserDefaults(std::filesystem::path file) : store_(std::move(file)) {
}

std::optional<std::int64_t> JsonUserDefaults::integer(const std::string& key) const {
    return store_.integer(key);
}

std::optional<bool> JsonUserDefaults::boolean(const std::string& key) const {
    return store_.boolean(key);
}

std::optional<UserDefaults::Date> JsonUserDefaults::date(const std::string& key) const {
    return store_.date(key);
}

std::optional<std::string> JsonUserDefaults::text(const std::string& key) const {
    return store_.text(key);
}

// The store keeps a value it could not write for this run; the interface asks nothing more.
void JsonUserDefaults::setInteger(const std::string& key, std::int64_t value) {
    store_.setInteger(key, value);
}

void JsonUserDefaults::setBoolean(const std::string& key, bool value) {
    store_.setBoolean(key, value);
}

void JsonUserDefaults::setDate(const std::string& key, Date value) {
    store_.setDate(key, value);
}

void JsonUserDefaults::setText(const std::string& key, const std::string& value) {
    store_.setText(key, value);
}

void JsonUserDefaults::remove(const std::string& key) {
    store_.remove(key);
}

}  // namespace sayloft
