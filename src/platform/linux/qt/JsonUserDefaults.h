#pragma once

#include <filesystem>

#include "core/storage/UserDefaultsStore.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The user's settings in the JSON store of the core, normally
// $XDG_CONFIG_HOME/Sayloft/defaults.json (UserDefaultsStore::defaultLocation). A value that
// cannot be written is kept for this run, as the store does. Main thread only.
class JsonUserDefaults final : public UserDefaults {
public:
    explicit JsonUserDefaults(std::filesystem::path file);

    std::optional<std::int64_t> integer(const std::string& key) const override;
    std::optional<bool> boolean(const std::string& key) const override;
    std::optional<Date> date(const std::string& key) const override;
    std::optional<std::string> text(const std::string& key) const override;

    void setInteger(const std::string& key, std::int64_t value) override;
    void setBoolean(const std::string& key, bool value) override;
    void setDate(const std::string& key, Date value) override;
    void setText(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;

    const UserDefaultsStore& store() const { return store_; }

private:
    UserDefaultsStore store_;
};

}  // namespace sayloft
