#include "app/UpdateTexts.h"

// The two languages side by side. Commas in the Chinese texts are ASCII commas, as in Texts.cpp.

namespace sayloft {

const UpdateTexts& UpdateTexts::english() {
    static const UpdateTexts texts{
        .checkingTitle = "Checking for updates…",
        .upToDateTitle = "You're up to date",
        .upToDateBody = "Sayloft {version} is the newest version available.",
        .availableTitle = "Sayloft {version} is available",
        .availableBody =
            "You have version {version}. Download the new version and open it in "
            "your software installer?",
        .availableNotification = "Choose \"Check for Updates…\" in the Sayloft menu to install it.",
        .downloadingTitle = "Downloading the update…",
        .openedTitle = "The update is open in your software installer",
        .openedBody = "Install it there, then start Sayloft again.",
        .savedTitle = "The update is downloaded",
        .savedBody =
            "No software installer is set up on this desktop. Install the package with:\n"
            "sudo apt install {path}",
        .checkFailedTitle = "The update check failed",
        .downloadFailedTitle = "The update could not be downloaded",
        .adviceInsecure =
            "The address is not secure, so Sayloft did not use it. Download Sayloft "
            "from its website instead.",
        .adviceUnreachable = "Check your internet connection and try again later.",
        .adviceBadFeed = "The update server sent something unexpected. Try again later.",
        .adviceUnverified =
            "Nothing was kept: the download could not be verified. Try again "
            "later; if this keeps happening, download Sayloft from its website.",
        .adviceStore = "Nothing was kept. Check that there is free space in your home folder.",
        .releaseNotesButton = "Release Notes",
        .laterButton = "Later",
        .downloadButton = "Download",
        .okButton = "OK",
    };
    return texts;
}

const UpdateTexts& UpdateTexts::chinese() {
    static const UpdateTexts texts{
        .checkingTitle = "正在检查更新…",
        .upToDateTitle = "已是最新版本",
        .upToDateBody = "言泉 {version} 是目前最新的版本。",
        .availableTitle = "言泉 {version} 已发布",
        .availableBody = "你当前的版本是 {version}。要下载新版本并在软件安装器中打开吗?",
        .availableNotification = "在言泉菜单中选择「检查更新…」即可安装。",
        .downloadingTitle = "正在下载更新…",
        .openedTitle = "更新已在软件安装器中打开",
        .openedBody = "请在安装器中完成安装,然后重新启动言泉。",
        .savedTitle = "更新已下载",
        .savedBody = "此桌面没有设置软件安装器。请用以下命令安装:\nsudo apt install {path}",
        .checkFailedTitle = "检查更新失败",
        .downloadFailedTitle = "无法下载更新",
        .adviceInsecure = "该地址不安全,言泉没有使用它。请从官网下载言泉。",
        .adviceUnreachable = "请检查网络连接,稍后再试。",
        .adviceBadFeed = "更新服务器返回了意外的内容,请稍后再试。",
        .adviceUnverified =
            "下载内容无法验证,已全部丢弃。请稍后再试;如果一直如此,请从官网下载言泉。",
        .adviceStore = "没有保留任何文件。请检查主目录是否有足够的空间。",
        .releaseNotesButton = "更新说明",
        .laterButton = "以后再说",
        .downloadButton = "下载",
        .okButton = "好",
    };
    return texts;
}

std::string UpdateTexts::fill(std::string text, std::string_view name, std::string_view value) {
    // Appended piece by piece: GCC 12 at -O3 warns of an overlap that cannot happen
    // (-Wrestrict) when a short literal is concatenated here.
    std::string placeholder;
    placeholder.push_back('{');
    placeholder.append(name);
    placeholder.push_back('}');
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

}  // namespace sayloft
