#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sayloft::test {

// A fresh private folder for one test, removed with everything in it at the end.
class TempHome {
public:
    TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    ~TempHome();

    const std::filesystem::path& path() const { return path_; }

    // Writes bytes to path()/relative, creating folders; returns the full path.
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view bytes,
                                std::filesystem::perms perms = std::filesystem::perms(0644)) const;

private:
    std::filesystem::path path_;
};

std::string readAll(const std::filesystem::path& file);

}  // namespace sayloft::test
