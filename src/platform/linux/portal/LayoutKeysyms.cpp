#include "platform/linux/portal/LayoutKeysyms.h"

#include <cstdlib>
#include <fstream>
#include <memory>

#include <xkbcommon/xkbcommon.h>

namespace sayloft {
namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// VALUE of NAME="VALUE" (or NAME=VALUE) in a shell-style file; empty when absent.
std::string fileSetting(const std::filesystem::path& file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + "=", 0) != 0) {
            continue;
        }
        std::string value = line.substr(name.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return "";
}

// The first entry of a comma-separated list.
std::string first(const std::string& list) {
    return list.substr(0, list.find(','));
}

}  // namespace

std::set<std::uint32_t> LayoutKeysyms::of(const std::string& layout, const std::string& variant) {
    std::set<std::uint32_t> keysyms;
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), xkb_context_unref);
    if (!context) {
        return keysyms;
    }
    const std::string chosen = layout.empty() ? "us" : layout;
    const xkb_rule_names names{"evdev", "pc105", chosen.c_str(), variant.c_str(), ""};
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    if (!keymap) {
        return keysyms;
    }
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap.get());
         key <= xkb_keymap_max_keycode(keymap.get()); ++key) {
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap.get(), key, 0);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), key, 0, level, &syms);
            keysyms.insert(syms, syms + count);
        }
    }
    return keysyms;
}

std::set<std::uint32_t> LayoutKeysyms::ofThisSession(const std::filesystem::path& keyboardFile) {
    std::string layout = env("XKB_DEFAULT_LAYOUT");
    std::string variant = env("XKB_DEFAULT_VARIANT");
    if (layout.empty()) {
        layout = fileSetting(keyboardFile, "XKBLAYOUT");
        variant = fileSetting(keyboardFile, "XKBVARIANT");
    }
    return of(first(layout), first(variant));
}

}  // namespace sayloft
