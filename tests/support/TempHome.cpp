#include "TempHome.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include <stdlib.h>

namespace sayloft::test {

TempHome::TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sayloft-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempHome::write(const std::filesystem::path& relative, std::string_view bytes,
                                      std::filesystem::perms perms) const {
    const auto full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::filesystem::permissions(full, perms);
    return full;
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace sayloft::test
