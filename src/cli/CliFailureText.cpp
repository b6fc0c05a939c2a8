#include "cli/CliFailureText.h"

namespace sayloft {
namespace {

// The recording-saved body of the rows whose recording is kept for a retry.
CliFailureText kept(const char* title, bool chinese) {
    return {title, chinese ? "录音已保存,点托盘里的话筒图标 →「重试上次录音」"
                           : "Recording saved — click the mic icon in the tray → \"Retry Last "
                             "Recording\""};
}

}  // namespace

CliFailureText CliFailureText::forError(APIError error, bool chinese) {
    switch (error) {
        case APIError::network:
        case APIError::timedOut:
            return kept(chinese ? "网络不佳,没转出来" : "Network too slow", chinese);
        case APIError::asrFailed:
        case APIError::badResponse:
            return kept(chinese ? "识别失败" : "Transcription failed", chinese);
        case APIError::unauthorized:
            return chinese ? CliFailureText{"设备未授权", "请重新打开 App"}
                           : CliFailureText{"Device not authorized", "Reopen the app"};
        case APIError::rateLimited:
            return chinese ? CliFailureText{"请求太频繁", "稍后重试"}
                           : CliFailureText{"Too many requests", "Try again later"};
    }
    return forOtherFailure(chinese);
}

CliFailureText CliFailureText::forOtherFailure(bool chinese) {
    return chinese ? CliFailureText{"识别失败", "请重试"}
                   : CliFailureText{"Transcription failed", "Please try again"};
}

}  // namespace sayloft
