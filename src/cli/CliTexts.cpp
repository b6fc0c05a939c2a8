#include "cli/CliTexts.h"

namespace sayloft {

const CliTexts& CliTexts::english() {
    static const CliTexts texts{
        .transcribe =
            {
                .failed = "Transcription failed: ",
                .network = "the service could not be reached; is it running? Check with: "
                           "sayloft-cli ping",
                .timedOut = "the service did not answer in time; try again, or a shorter "
                            "recording",
                .unauthorized = "the service refused the token; run sayloft-cli register, or "
                                "pass --token",
                .rateLimited = "too many requests; wait a minute and try again",
                .serviceError = "the service could not transcribe the recording; try again",
                .badResponse = "the service's answer could not be read; check --service",
            },
        .registration =
            {
                .failed = "Registration failed: ",
                .network = "the service could not be reached; is it running? Check with: "
                           "sayloft-cli ping",
                .timedOut = "the service did not answer in time; try again",
                .unauthorized = "the service refused to register this computer; ask its "
                                "operator for an invitation code and run sayloft-cli register "
                                "--invite CODE (or for a token: sayloft-cli token set TOKEN)",
                .rateLimited = "too many registrations; wait a minute and try again",
                .serviceError = "the service reported an error; try again later",
                .badResponse = "the service gave no usable token; check --service",
            },
        .otherFailure = "sayloft-cli failed: ",
        .hotkeyRoutes =
            {
                .heading = "The hotkey on Wayland: two ways, each with its price.",
                .evdev = "- Reading the keyboards (evdev): join the input group with \"sudo "
                         "usermod -aG input $USER\"; it takes effect at your next login. "
                         "Sayloft asks the kernel for the six modifier keys only, but the group "
                         "lets every program you run read every key you type, passwords "
                         "included. Sayloft never changes group membership itself.",
                .keyBinding = "- A compositor key binding: add the lines above to the "
                              "compositor's configuration and reload it; nothing else is "
                              "needed. Once the binding has reached Sayloft, it is chosen "
                              "before the keyboards.",
            },
    };
    return texts;
}

const CliTexts& CliTexts::chinese() {
    static const CliTexts texts{
        .transcribe =
            {
                .failed = "转写失败：",
                .network = "无法连接转写服务；服务在运行吗？可用 sayloft-cli ping 检查",
                .timedOut = "转写服务未及时响应；请重试，或换一段更短的录音",
                .unauthorized = "服务拒绝了令牌；请运行 sayloft-cli register，或用 --token 指定",
                .rateLimited = "请求过多；请等一分钟再试",
                .serviceError = "服务无法转写这段录音；请重试",
                .badResponse = "无法读取服务的回答；请检查 --service",
            },
        .registration =
            {
                .failed = "注册失败：",
                .network = "无法连接转写服务；服务在运行吗？可用 sayloft-cli ping 检查",
                .timedOut = "服务未及时响应；请重试",
                .unauthorized = "服务拒绝为这台电脑注册；请向服务的运营者索取邀请码，"
                                "然后运行 sayloft-cli register --invite 邀请码"
                                "（或索取令牌：sayloft-cli token set TOKEN）",
                .rateLimited = "注册请求过多；请等一分钟再试",
                .serviceError = "服务报告了错误；请稍后再试",
                .badResponse = "服务没有给出可用的令牌；请检查 --service",
            },
        .otherFailure = "sayloft-cli 出错：",
        .hotkeyRoutes =
            {
                .heading = "Wayland 下的热键：两种方式，各有代价。",
                .evdev = "- 直接读取键盘（evdev）：用 \"sudo usermod -aG input $USER\" 加入 "
                         "input 组，下次登录后生效。Sayloft 只向内核索取六个修饰键，但加入该组后，"
                         "你运行的每个程序都能读取你输入的每个按键，包括密码。Sayloft "
                         "从不自行更改用户组。",
                .keyBinding = "- 合成器快捷键绑定：把上面几行加入合成器的配置并重新加载，"
                              "无需其他操作。快捷键绑定一旦调用过 Sayloft，就会优先于读取键盘。",
            },
    };
    return texts;
}

std::string CliTexts::failure(CliOptions::Command command, std::optional<APIError> error,
                              const std::string& detail) const {
    const CommandTexts* own = command == CliOptions::Command::transcribe       ? &transcribe
                              : command == CliOptions::Command::registerDevice ? &registration
                                                                               : nullptr;
    if (!error) {
        return (own != nullptr ? own->failed : otherFailure) + detail;
    }
    if (own == nullptr) {
        return otherFailure + std::string(toString(*error));
    }
    const std::string* reason = nullptr;
    switch (*error) {
        case APIError::network:
            reason = &own->network;
            break;
        case APIError::timedOut:
            reason = &own->timedOut;
            break;
        case APIError::unauthorized:
            reason = &own->unauthorized;
            break;
        case APIError::rateLimited:
            reason = &own->rateLimited;
            break;
        case APIError::asrFailed:
            reason = &own->serviceError;
            break;
        case APIError::badResponse:
            reason = &own->badResponse;
            break;
    }
    if (reason == nullptr) {
        return otherFailure + std::string(toString(*error));
    }
    return own->failed + *reason + " (" + std::string(toString(*error)) + ")";
}

}  // namespace sayloft
