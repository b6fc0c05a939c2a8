#include "app/Texts.h"

// The two languages side by side. Commas in the Chinese texts are ASCII commas; arrows are
// U+2192 and the dash of the recording-saved message is an em dash (U+2014). The hotkeys are
// named as on a PC keyboard (Alt, Super, Ctrl).

namespace sayloft {

const Texts& Texts::english() {
    static const Texts texts{
        .listening = "🎤 Listening…",
        .transcribing = "⏳ Transcribing…",

        .recordingFailedTitle = "Recording failed",
        .noTokenTitle = "Setup not finished",
        .noTokenBody = "Reopen the app to finish setup",
        .networkTitle = "Network too slow",
        .transcriptionFailedTitle = "Transcription failed",
        .recordingSavedBody =
            "Recording saved \u2014 click the mic icon in the system tray \u2192 "
            "\"Retry Last Recording\"",
        .unauthorizedTitle = "Device not authorized",
        .unauthorizedBody = "Reopen the app",
        .rateLimitedTitle = "Too many requests",
        .rateLimitedBody = "Try again later",
        .otherFailureBody = "Please try again",
        .hotkeyLostTitle = "Hotkey stopped working",
        .hotkeyLostBody =
            "Sayloft can no longer watch the keyboard. It needs an X11 session with the XInput "
            "and XTEST extensions: log out, choose an X11 (Xorg) session at the login screen, "
            "then open Sayloft again. A Wayland session won't work.",

        .retryItem = "Retry Last Recording",
        .hotkeyItem = "Hotkey",
        .versionPrefix = "Sayloft ",
        .checkUpdatesItem = "Check for Updates…",
        .quitItem = "Quit",
        .hotkeyChoices = {{"Right Alt (default)", 61},
                          {"Left Alt", 58},
                          {"Right Super", 54},
                          {"Left Super", 55},
                          {"Right Ctrl", 62}},
        .defaultHotkeyTitle = "Right Alt",
    };
    return texts;
}

const Texts& Texts::chinese() {
    static const Texts texts{
        .listening = "🎤 说话中…",
        .transcribing = "⏳ 转写中…",

        .recordingFailedTitle = "录音启动失败",
        .noTokenTitle = "初始化未完成",
        .noTokenBody = "请重新打开 App 完成初始化",
        .networkTitle = "网络不佳,没转出来",
        .transcriptionFailedTitle = "识别失败",
        .recordingSavedBody = "录音已保存,点系统托盘里的话筒图标 \u2192「重试上次录音」",
        .unauthorizedTitle = "设备未授权",
        .unauthorizedBody = "请重新打开 App",
        .rateLimitedTitle = "请求太频繁",
        .rateLimitedBody = "稍后重试",
        .otherFailureBody = "请重试",
        .hotkeyLostTitle = "快捷键已失效",
        .hotkeyLostBody =
            "言泉无法再监听键盘。它需要带 XInput 和 XTEST 扩展的 X11 会话:请注销,"
            "在登录界面选择 X11(Xorg)会话,再重新打开言泉。Wayland 会话下无法使用。",

        .retryItem = "重试上次录音",
        .hotkeyItem = "快捷键",
        .versionPrefix = "言泉 ",
        .checkUpdatesItem = "检查更新…",
        .quitItem = "退出",
        .hotkeyChoices = {{"右 Alt(默认)", 61},
                          {"左 Alt", 58},
                          {"右 Super", 54},
                          {"左 Super", 55},
                          {"右 Ctrl", 62}},
        .defaultHotkeyTitle = "右 Alt",
    };
    return texts;
}

}  // namespace sayloft
