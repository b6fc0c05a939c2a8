#pragma once

#include <string>

namespace sayloft {

// The desktop's handlers for links. Main thread only.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens url with the user's preferred application; false when nothing could open it.
    virtual bool openUrl(const std::string& url) = 0;
};

}  // namespace sayloft
