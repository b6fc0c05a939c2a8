#pragma once

#include <string>
#include <vector>

#include "platform/PackageInstaller.h"

namespace sayloft::test {

class FakePackageInstaller final : public PackageInstaller {
public:
    bool available = true;  // whether the desktop has an installer
    std::vector<std::string> opened;

    bool open(const std::string& path) override {
        if (available) {
            opened.push_back(path);
        }
        return available;
    }
};

}  // namespace sayloft::test
