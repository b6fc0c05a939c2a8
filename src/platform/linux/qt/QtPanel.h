#pragma once

#include <memory>
#include <string_view>

#include "platform/Panel.h"
#include "platform/linux/qt/PanelPainter.h"

class QWidget;

namespace sayloft {

// The status panel as a frameless top-level widget that the window manager does not manage
// (override-redirect on X11): it takes no focus when shown (WindowDoesNotAcceptFocus,
// WA_ShowWithoutActivating), lets every click through (WindowTransparentForInput: an empty input
// shape), stays above ordinary windows (WindowStaysOnTopHint, raised at every show) and, being
// unmanaged, shows on whatever workspace is current. The look is PanelPainter's; the background is
// painted on a translucent window when a compositor runs, else on a window shaped to the rounded
// rectangle. Sizes are logical pixels (Qt's device-independent pixels). Main thread only.
class QtPanel final : public Panel {
public:
    static constexpr int horizontalInset = PanelPainter::horizontalInset;

    QtPanel();
    ~QtPanel() override;
    QtPanel(const QtPanel&) = delete;
    QtPanel& operator=(const QtPanel&) = delete;

    // The panel is PanelPainter's initial size at least and grows to hold the text with the
    // insets; a shorter text shrinks it back, never below the initial size.
    void setText(std::string_view utf8) override;
    Size size() const override;
    void setOrigin(Point origin) override;
    void orderFront() override;
    void orderOut() override;

    // For tests: the native window, once the panel has been shown.
    QWidget* widget() const;

private:
    class View;
    std::unique_ptr<View> view_;
};

}  // namespace sayloft
