#pragma once

struct _XDisplay;

namespace sayloft {

// Catches the X protocol errors one display's requests cause while the trap lives, instead of
// letting the process's Xlib error handler see them (the default one exits). Windows of other
// clients can vanish between two requests about them; such a failure is an ordinary outcome.
// Errors of other displays go on to the handler that was installed before. Main thread only;
// traps may nest.
class XErrorTrap {
public:
    explicit XErrorTrap(_XDisplay* display);
    ~XErrorTrap();

    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Waits for the server to process every request made so far and reports whether any of
    // those made since the trap was set failed.
    bool failed();

private:
    friend struct XErrorTrapHandler;

    _XDisplay* display_;
    XErrorTrap* outer_;
    int (*previous_)(_XDisplay*, void*);
    bool failed_ = false;
};

}  // namespace sayloft
