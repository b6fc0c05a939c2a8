#pragma once

#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace sayloft::test {

class FakeWorkspace final : public Workspace {
public:
    std::vector<std::string> opened;
    bool openUrl(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
};

}  // namespace sayloft::test
