#include "cli/HotkeyCall.h"

namespace sayloft {

std::optional<std::string> HotkeyCall::send(bool, const std::string&, std::int64_t) {
    return "this sayloft-cli was built without the desktop layer (SAYLOFT_BUILD_DESKTOP=OFF)";
}

}  // namespace sayloft
