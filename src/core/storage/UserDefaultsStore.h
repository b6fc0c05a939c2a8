#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sayloft {

// The user's settings: typed values (integer, boolean, date, text) by key, kept in a JSON object
// file that is replaced atomically on every change. Reading a key that is absent, or that holds a
// value of another type, yields nullopt. Values of shapes this version does not know are kept as
// they are.
//
// A file that exists but does not hold a JSON object reads as empty and is renamed aside
// (defaults.json.broken-<UTC time>, with "-2", "-3" ... after it when a kept copy of that name
// exists: a kept copy is never replaced) so that no setting is lost without a trace. If it cannot
// be renamed, the store stays read-only rather than overwrite it. Thread-safe.
//
// A read-only store (sayloft-cli doctor) reads the file and changes nothing: a broken file stays
// where it is and every change answers false (it is kept for this run all the same).
class UserDefaultsStore {
public:
    using Date = std::chrono::system_clock::time_point;
    enum class Access { readWrite, readOnly };

    explicit UserDefaultsStore(std::filesystem::path file, Access access = Access::readWrite);

    // <config home>/Sayloft/defaults.json
    static std::filesystem::path defaultLocation(const std::filesystem::path& configHome);

    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<Date> date(const std::string& key) const;
    std::optional<std::string> text(const std::string& key) const;

    // Each change is written to the file at once; false when it could not be (the value is kept
    // for this run all the same).
    bool setInteger(const std::string& key, std::int64_t value);
    bool setBoolean(const std::string& key, bool value);
    bool setDate(const std::string& key, Date value);
    bool setText(const std::string& key, const std::string& value);
    bool remove(const std::string& key);

    // Where a broken file was moved at load, if one was.
    std::optional<std::filesystem::path> brokenFileSetAside() const;

    // True when the file exists but holds no JSON object (whether or not it was moved aside).
    bool foundBroken() const { return foundBroken_; }

private:
    bool store(const std::string& key, nlohmann::json value);
    bool writeLocked() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
    std::optional<std::filesystem::path> setAside_;
    bool writable_ = true;
    bool foundBroken_ = false;
};

}  // namespace sayloft
