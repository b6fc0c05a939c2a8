#pragma once

namespace sayloft {

// What the user can do on this desktop when Sayloft cannot yet see the hotkey or type.
enum class InputRemedy {
    // Wayland with the compositor key binding route: add the binding lines; the first report
    // of the hotkey shows that it works, within this session.
    keyBinding,
    // Nothing offered by this session can work: only a new login (another session type, a new
    // group membership) changes that.
    newLogin,
};

}  // namespace sayloft
