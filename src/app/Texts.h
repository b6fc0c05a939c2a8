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

    // The product's name: the notifications' application name and the tray icon's tooltip.
    std::string productName;

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
    std::string microphoneNotOpenedBody;   // the audio server's own reason goes to the log
    std::string alreadyRunningTitle;       // a second start of Sayloft in this login
    std::string alreadyRunningBodyPrefix;  // followed by the hotkey's short title
    std::string alreadyRunningBodySuffix;

    // First run: the data notice. Its first line says where recordings go: to a service on this
    // computer (a loopback address) or over the network to a remote one.
    std::string consentTitle;
    std::string consentBodyRemote;
    std::string consentBodyLocal;
    std::string agreeButton;
    std::string quitButton;

    // Input setup: what lets Sayloft see the hotkey and type into other windows. The informative
    // text is the intro of the variant, a line break, then the remedy for this desktop.
    std::string inputSetupTitle;
    std::string inputSetupIntro;
    std::string inputSetupAgainTitle;  // a later run that finds input no longer working
    std::string inputSetupAgainIntro;
    std::string inputRemedyKeyBinding;  // Wayland: the compositor key binding
    std::string inputRemedyNewLogin;    // nothing works in this session; a new login is needed
    std::string openHelpButton;
    std::string laterButton;
    std::string inputReadyTitle;
    std::string inputReadyBodyPrefix;  // followed by the hotkey's short title
    std::string inputReadyBodySuffix;

    // Microphone check
    std::string noMicrophoneTitle;
    std::string noMicrophoneBody;
    std::string serviceStartingTitle;  // the first run, while the local service starts
    std::string serviceStartingBody;

    // Obtaining the service token; each body is followed by a line with the details.
    std::string serviceNotRunningTitle;
    std::string serviceNotRunningBody;
    std::string serviceUnreachableTitle;
    std::string serviceUnreachableBody;
    std::string registrationRefusedTitle;
    std::string registrationRefusedBody;
    std::string registrationNotOfferedTitle;
    std::string registrationNotOfferedBody;
    std::string tokenNotSavedTitle;
    std::string tokenNotSavedBody;
    std::string retryButton;

    // Crash reports: the consent alert of the first launch after a crash.
    std::string crashConsentTitle;
    std::string crashConsentBody;
    std::string sendAutomaticallyButton;
    std::string dontSendButton;

    // Tray menu
    std::string retryItem;
    std::string hotkeyItem;
    std::string insertByPastingItem;  // the two insertion choices, one of them checked
    std::string insertByTypingItem;
    std::string spaceAfterTextItem;    // checked while on
    std::string recentDictationsItem;  // the submenu of this run's transcripts
    std::string versionPrefix;         // followed by the version text
    std::string checkUpdatesItem;
    std::string quitItem;
    std::vector<HotkeyChoice> hotkeyChoices;  // in menu order; the first is the default
    std::string defaultHotkeyTitle;           // the short title when the stored key is unknown

    // The desktop binds the hotkey (its shortcuts portal): the Hotkey submenu shows, disabled,
    // the trigger the desktop reports followed by the suffix, or the unassigned text when the
    // desktop bound none; the shortcut's name in the desktop's settings.
    std::string hotkeySetBySystemSuffix;
    std::string hotkeyUnassigned;
    std::string holdToTalkShortcut;

    // Typing through the desktop (its remote desktop portal): without its permission the text is
    // left on the clipboard; where the desktop cannot keep the permission, it asks at every start
    // (said once).
    std::string pasteYourselfTitle;
    std::string pasteYourselfBody;
    std::string typingPermissionTitle;
    std::string typingPermissionBody;

    static const Texts& english();
    static const Texts& chinese();
    static const Texts& forLanguage(bool isZh) { return isZh ? chinese() : english(); }
};

}  // namespace sayloft
