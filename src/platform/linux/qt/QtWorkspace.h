#pragma once

#include "platform/Workspace.h"

namespace sayloft {

// Opens links with QDesktopServices (xdg-open or the desktop portal underneath). Main thread only.
class QtWorkspace final : public Workspace {
public:
    // An empty or unparsable url is not opened (false).
    bool openUrl(const std::string& url) override;
};

}  // namespace sayloft
