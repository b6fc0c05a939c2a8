#pragma once

#include <string_view>

namespace sayloft {

// The recorder's one failure: the input has no usable format (no device, or one that just
// disappeared). Its description holds both languages at once and is shown as it stands.
enum class RecorderError { noInputDevice };

constexpr std::string_view errorDescription(RecorderError) {
    return "麦克风不可用(输入设备刚切换或已断开),请稍后再试 / "
           "Microphone unavailable \u2014 input device changed or disconnected";
}

}  // namespace sayloft
