#include "WaylandSession.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>
#include <unistd.h>

namespace sayloft::test {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string focusedIn(const nlohmann::json& node) {
    if (node.value("focused", false) && node.contains("app_id") && node["app_id"].is_string()) {
        return node["app_id"];
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (node.contains(children)) {
            for (const auto& child : node[children]) {
                if (auto found = focusedIn(child); !found.empty()) {
                    return found;
                }
            }
        }
    }
    return {};
}

int counter = 0;

}  // namespace

std::string focusedAppId() {
    const auto tree = runProgram({"swaymsg", "-r", "-t", "get_tree"});
    if (!tree) {
        return {};
    }
    return focusedIn(nlohmann::json::parse(*tree, nullptr, false));
}

TextReceiver::TextReceiver(Kind kind) {
    appId_ = "sayloft-receiver-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    // Both say "ready" first in the out file; then foot's cat writes the text as it comes, the
    // GTK field its lines ("text <hex>").
    const std::string out = (home_.path() / "out").string();
    if (kind == Kind::foot) {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                "foot", "--log-level=error", "--app-id=" + appId_, "sh", "-c",
                "stty -icanon -echo && echo ready > '" + out + "' && exec cat >> '" + out + "'"},
            std::map<std::string, std::string>{{"LC_ALL", "C.UTF-8"}});
    } else {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"sh", "-c",
                                     "exec /usr/bin/python3 '" SAYLOFT_TEST_TOOLS
                                     "/gtk_text_field.py' --app-id '" +
                                         appId_ + "' > '" + out + "'"},
            std::map<std::string, std::string>{{"GDK_BACKEND", "wayland"}, {"LC_ALL", "C.UTF-8"}});
    }
    gtk_ = kind == Kind::gtk;
}

// What the field holds: all foot's cat wrote after "ready", the GTK field's last text line.
std::string TextReceiver::received() const {
    const std::string out = readAll(home_.path() / "out");
    if (!gtk_) {
        return out.substr(std::min<std::size_t>(out.size(), 6));
    }
    const auto line = out.rfind("text ");
    const std::string hex =
        line == std::string::npos ? "" : out.substr(line + 5, out.find('\n', line) - line - 5);
    std::string text;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return text;
}

bool TextReceiver::waitUntilFocused() {
    return waitFor([&] {
        return readAll(home_.path() / "out").starts_with("ready\n") &&
               lower(focusedAppId()) == appId_;
    });
}

std::string TextReceiver::waitForText(const std::string& expected) {
    std::string last;
    waitFor([&] {
        last = received();
        return last == expected;
    });
    return last;
}

}  // namespace sayloft::test
