#pragma once

#include <cstddef>
#include <memory>

#include "platform/UpdateWindow.h"

class QDialog;
class QHBoxLayout;
class QLabel;
class QProgressBar;

namespace sayloft {

// The update window as a small non-modal dialog: a bold title, the message (selectable, so that
// a file path can be copied), a busy bar while work runs, and the page's buttons, the last one
// the default. Escape or the window's close button count as closing. The dialog is made at the
// first show and kept. Main thread only.
class QtUpdateWindow final : public UpdateWindow {
public:
    QtUpdateWindow();
    ~QtUpdateWindow() override;
    QtUpdateWindow(const QtUpdateWindow&) = delete;
    QtUpdateWindow& operator=(const QtUpdateWindow&) = delete;

    void show(const UpdateWindowPage& page, Chosen chosen) override;
    void close() override;

private:
    void build();
    void choose(std::size_t button);

    std::unique_ptr<QDialog> dialog_;
    QLabel* title_ = nullptr;
    QLabel* message_ = nullptr;
    QProgressBar* busy_ = nullptr;
    QHBoxLayout* buttons_ = nullptr;
    Chosen chosen_;
    std::size_t buttonCount_ = 0;
};

}  // namespace sayloft
