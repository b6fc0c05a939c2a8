#pragma once

#include <string>
#include <string_view>

namespace sayloft {

// The texts of software updates, in one language; both languages side by side in
// UpdateTexts.cpp. "{version}" and "{path}" stand for values filled in with fill().
struct UpdateTexts {
    std::string checkingTitle;
    std::string upToDateTitle;
    std::string upToDateBody;    // {version}: the running version
    std::string availableTitle;  // {version}: the new version
    std::string availableBody;   // {version}: the running version
    std::string availableNotification;
    std::string downloadingTitle;
    std::string openedTitle;
    std::string openedBody;
    std::string savedTitle;
    std::string savedBody;  // {path}: the package file
    std::string checkFailedTitle;
    std::string downloadFailedTitle;
    // What to do next, by kind of failure (after the failure's own description).
    std::string adviceInsecure;
    std::string adviceUnreachable;
    std::string adviceBadFeed;
    std::string adviceUnverified;
    std::string adviceStore;
    std::string releaseNotesButton;
    std::string laterButton;
    std::string downloadButton;
    std::string okButton;

    static const UpdateTexts& english();
    static const UpdateTexts& chinese();
    static const UpdateTexts& forLanguage(bool isZh) { return isZh ? chinese() : english(); }

    // text with every "{name}" replaced by value.
    static std::string fill(std::string text, std::string_view name, std::string_view value);
};

}  // namespace sayloft
