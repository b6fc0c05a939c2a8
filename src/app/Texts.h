#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sayloft {

// Every text the application shows, in one language. Both languages are written side by side in
// Texts.cpp; L10n::isZh() picks one per process. The product is "Sayloft" in English texts and
// "言泉" in Chinese ones.
struct Texts {
    struct HotkeyChoice {
        std::string title;
        std::uint16_t keyCode;
    };

    // Status panel
    std::string listening;
    std::string transcribing;

    // Notifications of the dictation session
    std::string recordingFailedTitle;
    std::string noTokenTitle;
    std::string noTokenBody;
    std::string networkTitle;
    std::string transcriptionFailedTitle;
    std::string recordingSavedBody;
    std::string unauthorizedTitle;
    std::string unauthorizedBody;
    std::string rateLimitedTitle;
    std::string rateLimitedBody;
    std::string otherFailureBody;
    std::string hotkeyLostTitle;
    std::string hotkeyLostBody;

    // Tray menu
    std::string retryItem;
    std::string hotkeyItem;
    std::string versionPrefix;  // followed by the version text
    std::string checkUpdatesItem;
    std::string quitItem;
    std::vector<HotkeyChoice> hotkeyChoices;  // in menu order; the first is the default
    std::string defaultHotkeyTitle;           // the short title when the stored key is unknown

    static const Texts& english();
    static const Texts& chinese();
    static const Texts& forLanguage(bool isZh) { return isZh ? chinese() : english(); }
};

}  // namespace sayloft
