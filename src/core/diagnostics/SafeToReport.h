#pragma once

#include <stdexcept>

namespace sayloft {

// An exception whose message is fixed text of ours and never holds user data (no transcript, no
// setting, no path, no name). The crash handler records the message of an uncaught exception
// only when it is one of these; of any other exception it records the type alone, since a
// parse error may quote the settings file or a transcript and a file system error names a path.
class SafeToReport : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace sayloft
