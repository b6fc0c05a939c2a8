#include "platform/linux/x11/XErrorTrap.h"

#include <X11/Xlib.h>

namespace sayloft {
namespace {

using Handler = int (*)(Display*, XErrorEvent*);

// The innermost trap; Xlib's error callback has no user data, so it is found here.
XErrorTrap* innermost = nullptr;

}  // namespace

struct XErrorTrapHandler {
    static int handle(Display* display, XErrorEvent* event) {
        for (XErrorTrap* trap = innermost; trap != nullptr; trap = trap->outer_) {
            if (trap->display_ == display) {
                trap->failed_ = true;
                return 0;
            }
        }
        // Not ours: whoever handled errors before the outermost trap decides.
        XErrorTrap* outermost = innermost;
        while (outermost != nullptr && outermost->outer_ != nullptr) {
            outermost = outermost->outer_;
        }
        if (outermost != nullptr && outermost->previous_ != nullptr) {
            return reinterpret_cast<Handler>(outermost->previous_)(display, event);
        }
        return 0;
    }
};

XErrorTrap::XErrorTrap(Display* display) : display_(display), outer_(innermost) {
    XSync(display_, False);  // errors of earlier requests are not this trap's
    previous_ =
        reinterpret_cast<int (*)(Display*, void*)>(XSetErrorHandler(&XErrorTrapHandler::handle));
    innermost = this;
}

XErrorTrap::~XErrorTrap() {
    XSync(display_, False);
    innermost = outer_;
    XSetErrorHandler(reinterpret_cast<Handler>(previous_));
}

bool XErrorTrap::failed() {
    XSync(display_, False);
    return failed_;
}

}  // namespace sayloft
