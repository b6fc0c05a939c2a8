#include "app/Texts.h"

// The two languages side by side. Commas in the Chinese texts are ASCII commas; arrows are
// U+2192 and the dash of the recording-saved message is an em dash (U+2014). The hotkeys are
// named as on a PC keyboard (Alt, Super, Ctrl).

namespace sayloft {

const Texts& Texts::english() {
    static const Texts texts{
        .productName = "Sayloft",
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
        .microphoneNotOpenedBody =
            "The microphone could not be opened. Check the sound settings, then try again.",
        .alreadyRunningTitle = "Sayloft is already running",
        .alreadyRunningBodyPrefix = "Hold ",
        .alreadyRunningBodySuffix = " and speak; the menu is on the mic icon in the system tray.",

        .consentTitle = "Voice Data Notice",
        .consentBodyRemote =
            "To turn your speech into text, recordings are sent over an encrypted connection to "
            "our servers for transcription.\n"
            "\u00b7 Audio is used only for this one transcription and deleted immediately \u2014 "
            "never stored\n"
            "\u00b7 We never read, store, or share what you say\n"
            "Click \"Agree & Continue\" to consent to this processing.",
        .consentBodyLocal =
            "To turn your speech into text, recordings are transcribed on this computer by the "
            "transcription service running here; they never leave this computer.\n"
            "\u00b7 Audio is used only for this one transcription and deleted immediately \u2014 "
            "never stored\n"
            "\u00b7 We never read, store, or share what you say\n"
            "Click \"Agree & Continue\" to consent to this processing.",
        .agreeButton = "Agree & Continue",
        .quitButton = "Quit",

        .inputSetupTitle = "One last step: set up the hotkey",
        .inputSetupIntro =
            "Sayloft needs to see the hotkey and to type into other windows to detect the hotkey "
            "and insert text; this desktop session does not let it yet.",
        .inputSetupAgainTitle = "Hotkey needs setting up again",
        .inputSetupAgainIntro =
            "Sayloft could see the hotkey and type before, but this desktop session does not let "
            "it: the session or its settings changed since then.",
        .inputRemedyKeyBinding =
            "Add Sayloft's key binding to your compositor: click below for the help page, or run "
            "\"sayloft-cli doctor\" in a terminal, which prints the lines to add for your hotkey, "
            "then reload the compositor's configuration \u2014 we'll detect it automatically at "
            "the first press of the hotkey, no restart needed.",
        .inputRemedyNewLogin =
            "Nothing can change that in this session: it takes a new login. Log out, choose an "
            "X11 (Xorg) session or sway at the login screen, then open Sayloft again. Click below "
            "for the help page.",
        .openHelpButton = "Open Help",
        .laterButton = "Later",
        .inputReadyTitle = "Permission granted \u2705",
        .inputReadyBodyPrefix = "Hold ",
        .inputReadyBodySuffix = " and speak to try it out",

        .noMicrophoneTitle = "No microphone found",
        .noMicrophoneBody =
            "Sayloft records from the default sound input, and this computer has none. Connect a "
            "microphone or choose an input in the sound settings.",
        .serviceStartingTitle = "Getting Sayloft ready",
        .serviceStartingBody =
            "Starting the transcription service on this computer; this takes a few seconds.",

        .serviceNotRunningTitle = "The transcription service is not running",
        .serviceNotRunningBody =
            "Sayloft starts its own transcription service on this computer, but it did not come "
            "up. Choose Retry to try again.",
        .serviceUnreachableTitle = "Can't reach the transcription service",
        .serviceUnreachableBody =
            "Sayloft could not connect to the service to register this device. Check the network "
            "connection, then choose Retry.",
        .registrationRefusedTitle = "The service refused to register this device",
        .registrationRefusedBody =
            "The service gave Sayloft no token. Choose Retry in a while, or ask the service's "
            "operator.",
        .registrationNotOfferedTitle = "This service does not offer registration",
        .registrationNotOfferedBody =
            "Its tokens come from its operator: ask for one, store it with \"sayloft-cli token "
            "set TOKEN\" (or save it in the token file named below), then choose Retry.",
        .tokenNotSavedTitle = "The token could not be saved",
        .tokenNotSavedBody =
            "Sayloft got a token but could not write it to the file named below. Check that its "
            "folder is writable, then choose Retry.",
        .retryButton = "Retry",

        .crashConsentTitle = "Sayloft quit unexpectedly last time",
        .crashConsentBody =
            "Send crash reports to us automatically to help improve Sayloft?\n"
            "Reports contain only the system version, the Sayloft version and the crash stack "
            "\u2014 never any audio or text. We won't ask again.",
        .sendAutomaticallyButton = "Send automatically",
        .dontSendButton = "Don't send",

        .retryItem = "Retry Last Recording",
        .hotkeyItem = "Hotkey",
        .insertByPastingItem = "Insert by Pasting",
        .insertByTypingItem = "Insert by Typing",
        .spaceAfterTextItem = "Add a Space After Text",
        .recentDictationsItem = "Recent Dictations",
        .versionPrefix = "Sayloft ",
        .checkUpdatesItem = "Check for Updates…",
        .quitItem = "Quit",
        .hotkeyChoices = {{"Right Alt (default)", 61},
                          {"Left Alt", 58},
                          {"Right Super", 54},
                          {"Left Super", 55},
                          {"Right Ctrl", 62}},
        .defaultHotkeyTitle = "Right Alt",
        .hotkeySetBySystemSuffix = " — set in System Settings",
        .hotkeyUnassigned = "No key assigned",
        .holdToTalkShortcut = "Hold to talk (Sayloft dictation)",
        .pasteYourselfTitle = "Text copied, not typed",
        .pasteYourselfBody = "The desktop did not let Sayloft type. Paste the text with Ctrl+V.",
        .typingPermissionTitle = "Sayloft asks to type",
        .typingPermissionBody =
            "This desktop asks at every start whether Sayloft may control the keyboard. Allow "
            "it so that your dictations are typed; otherwise they are left on the clipboard.",
    };
    return texts;
}

const Texts& Texts::chinese() {
    static const Texts texts{
        .productName = "言泉",
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
        .microphoneNotOpenedBody = "无法打开麦克风,请检查声音设置,然后再试一次。",
        .alreadyRunningTitle = "言泉已在运行",
        .alreadyRunningBodyPrefix = "按住",
        .alreadyRunningBodySuffix = " 说话即可,菜单在系统托盘的话筒图标里。",

        .consentTitle = "语音数据处理说明",
        .consentBodyRemote =
            "为了把你的语音转成文字,录音会通过加密连接发送到我们位于境外的服务器进行识别。\n"
            "\u00b7 音频仅用于本次转写,处理完立即删除,绝不留存\n"
            "\u00b7 我们不会查看、存储或分享你的任何转写内容\n"
            "点击\"同意并继续\"表示你同意以上数据出境处理。",
        // Nothing leaves the computer here, so the closing line does not speak of data going
        // abroad.
        .consentBodyLocal =
            "为了把你的语音转成文字,录音会由这台电脑上运行的识别服务在本机识别,不会离开这台电脑。\n"
            "\u00b7 音频仅用于本次转写,处理完立即删除,绝不留存\n"
            "\u00b7 我们不会查看、存储或分享你的任何转写内容\n"
            "点击\"同意并继续\"表示你同意以上数据处理。",
        .agreeButton = "同意并继续",
        .quitButton = "退出",

        .inputSetupTitle = "最后一步:设置快捷键",
        .inputSetupIntro =
            "言泉需要看到快捷键并向其他窗口输入,才能监听快捷键和把文字放进光标处;"
            "当前桌面会话还不允许。",
        .inputSetupAgainTitle = "快捷键需要重新设置",
        .inputSetupAgainIntro =
            "言泉以前能看到快捷键并输入文字,但当前桌面会话不允许:会话或它的设置变了。",
        .inputRemedyKeyBinding =
            "请给合成器加上言泉的按键绑定:点下面的按钮打开帮助页,或在终端运行 \"sayloft-cli "
            "doctor\",它会打印出为你的快捷键要添加的几行,然后重新加载合成器配置——第一次按下快捷键时"
            "这里会自动检测,无需重启。",
        .inputRemedyNewLogin =
            "在当前会话里无法改变这一点,需要重新登录:请注销,在登录界面选择 X11(Xorg)会话或 "
            "sway,再打开言泉。点下面的按钮打开帮助页。",
        .openHelpButton = "打开帮助",
        .laterButton = "稍后",
        .inputReadyTitle = "权限已就绪 \u2705",
        .inputReadyBodyPrefix = "现在按住",
        .inputReadyBodySuffix = " 说话试试吧",

        .noMicrophoneTitle = "没有找到麦克风",
        .noMicrophoneBody =
            "言泉从默认声音输入录音,但这台电脑没有。请连接麦克风,或在声音设置里选择一个输入。",
        .serviceStartingTitle = "言泉正在准备",
        .serviceStartingBody = "正在启动这台电脑上的识别服务,需要几秒钟。",

        .serviceNotRunningTitle = "识别服务没有运行",
        .serviceNotRunningBody =
            "言泉会在这台电脑上启动自己的识别服务,但它没有启动起来。点\"重试\"再试一次。",
        .serviceUnreachableTitle = "连不上识别服务",
        .serviceUnreachableBody =
            "言泉连不上识别服务,无法为这台设备注册。请检查网络连接,然后点\"重试\"。",
        .registrationRefusedTitle = "识别服务拒绝注册这台设备",
        .registrationRefusedBody = "识别服务没有给言泉令牌。请稍后点\"重试\",或联系服务的运营者。",
        .registrationNotOfferedTitle = "这个识别服务不提供注册",
        .registrationNotOfferedBody =
            "它的令牌由运营者发放:请向运营者要一个,用 \"sayloft-cli token set 令牌\" "
            "保存(或保存到下面写的令牌文件里),然后点\"重试\"。",
        .tokenNotSavedTitle = "令牌无法保存",
        .tokenNotSavedBody =
            "言泉拿到了令牌,但无法写入下面写的文件。请检查它的文件夹是否可写,然后点\"重试\"。",
        .retryButton = "重试",

        .crashConsentTitle = "言泉上次异常退出",
        .crashConsentBody =
            "是否自动把崩溃报告发给我们,帮助改进软件?\n"
            "报告只含系统版本、软件版本和崩溃堆栈,不含任何语音或文字内容。之后不会再询问。",
        .sendAutomaticallyButton = "自动发送",
        .dontSendButton = "不发送",

        .retryItem = "重试上次录音",
        .hotkeyItem = "快捷键",
        .insertByPastingItem = "以粘贴方式输入",
        .insertByTypingItem = "以打字方式输入",
        .spaceAfterTextItem = "文字后加空格",
        .recentDictationsItem = "最近的听写",
        .versionPrefix = "言泉 ",
        .checkUpdatesItem = "检查更新…",
        .quitItem = "退出",
        .hotkeyChoices = {{"右 Alt(默认)", 61},
                          {"左 Alt", 58},
                          {"右 Super", 54},
                          {"左 Super", 55},
                          {"右 Ctrl", 62}},
        .defaultHotkeyTitle = "右 Alt",
        .hotkeySetBySystemSuffix = " — 在系统设置中设置",
        .hotkeyUnassigned = "未分配按键",
        .holdToTalkShortcut = "按住说话(言泉听写)",
        .pasteYourselfTitle = "文字已复制,未输入",
        .pasteYourselfBody = "桌面不允许言泉输入文字。请按 Ctrl+V 粘贴。",
        .typingPermissionTitle = "言泉请求输入权限",
        .typingPermissionBody =
            "此桌面每次启动时都会询问是否允许言泉控制键盘。请允许,以便输入听写的文字;"
            "否则文字会留在剪贴板中。",
    };
    return texts;
}

}  // namespace sayloft
