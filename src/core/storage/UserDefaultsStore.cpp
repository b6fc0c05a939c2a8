#include "core/storage/UserDefaultsStore.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

// Dates are stored as {"unixNanoseconds": N} so that they survive a round trip exactly and are
// never confused with an integer setting.
constexpr const char* dateMember = "unixNanoseconds";

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    const auto length = std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(text, length);
}

// Moves file to aside, or to aside-2, aside-3 ... when that name is taken: never over a file.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file,
                                               const std::filesystem::path& aside) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        auto target = aside;
        if (attempt > 1) {
            target += '-';
            target += std::to_string(attempt);
        }
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without RENAME_NOREPLACE: link() also refuses an existing name.
            if (::link(file.c_str(), target.c_str()) == 0) {
                ::unlink(file.c_str());
                return target;
            }
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

UserDefaultsStore::UserDefaultsStore(std::filesystem::path file, Access access)
    : file_(std::move(file)), writable_(access == Access::readWrite) {
    std::error_code error;
    if (!std::filesystem::exists(file_, error)) {
        return;
    }
    const auto content = FileIo::read(file_);
    if (content) {
        auto parsed = nlohmann::json::parse(*content, nullptr, /*allow_exceptions=*/false);
        if (parsed.is_object()) {
            values_ = std::move(parsed);
            return;
        }
    }
    foundBroken_ = true;
    if (!writable_) {
        return;
    }
    auto aside = file_;
    aside += ".broken-" + utcStamp();
    setAside_ = content ? moveAside(file_, aside) : std::nullopt;
    if (!setAside_) {
        writable_ = false;  // unreadable or unmovable: never write over it
    }
}

std::filesystem::path UserDefaultsStore::defaultLocation(const std::filesystem::path& configHome) {
    return configHome / "Sayloft" / "defaults.json";
}

std::optional<std::int64_t> UserDefaultsStore::integer(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

std::optional<bool> UserDefaultsStore::boolean(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end() || !found->is_boolean()) {
        return std::nullopt;
    }
    return found->get<bool>();
}

std::optional<UserDefaultsStore::Date> UserDefaultsStore::date(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end() || !found->is_object() || found->size() != 1) {
        return std::nullopt;
    }
    const auto nanoseconds = found->find(dateMember);
    if (nanoseconds == found->end() || !nanoseconds->is_number_integer()) {
        return std::nullopt;
    }
    return Date(std::chrono::duration_cast<Date::duration>(
        std::chrono::nanoseconds(nanoseconds->get<std::int64_t>())));
}

std::optional<std::string> UserDefaultsStore::text(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

bool UserDefaultsStore::setInteger(const std::string& key, std::int64_t value) {
    return store(key, value);
}

bool UserDefaultsStore::setBoolean(const std::string& key, bool value) {
    return store(key, value);
}

bool UserDefaultsStore::setDate(const std::string& key, Date value) {
    const auto nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(value.time_since_epoch()).count();
    return store(key, nlohmann::json{{dateMember, static_cast<std::int64_t>(nanoseconds)}});
}

bool UserDefaultsStore::setText(const std::string& key, const std::string& value) {
    return store(key, value);
}

bool UserDefaultsStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
    return writeLocked();
}

std::optional<std::filesystem::path> UserDefaultsStore::brokenFileSetAside() const {
    std::lock_guard lock(mutex_);
    return setAside_;
}

bool UserDefaultsStore::store(const std::string& key, nlohmann::json value) {
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
    return writeLocked();
}

bool UserDefaultsStore::writeLocked() const {
    if (!writable_ || !FileIo::makeFolders(file_.parent_path())) {
        return false;
    }
    // Replacement characters instead of an exception for text that is not UTF-8.
    const std::string json =
        values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return FileIo::replaceAtomically(file_, json, 0644);
}

}  // namespace sayloft
