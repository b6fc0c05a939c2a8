#include "platform/linux/qt/QtAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace sayloft {

void QtAlerts::activateApp() {
    // Nothing to raise before a dialog exists: an X11 or Wayland client may activate only its
    // own windows, which runModal does for each alert as it appears.
    if (QWidget* window = QApplication::activeModalWidget()) {
        window->raise();
        window->activateWindow();
    }
}

std::size_t QtAlerts::runModal(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setIcon(QMessageBox::Information);
    box.setText(QString::fromStdString(alert.message));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    box.setTextFormat(Qt::PlainText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);

    // ActionRole for all: QMessageBox keeps buttons of one role in the order they were added,
    // where Accept/Reject roles would be reordered by the platform's layout.
    std::vector<QPushButton*> buttons;
    for (const auto& title : alert.buttons) {
        buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
    }
    if (buttons.empty()) {
        buttons.push_back(box.addButton(QMessageBox::Ok));
    }
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());

    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    box.exec();

    QAbstractButton* clicked = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == clicked) {
            return i;
        }
    }
    return buttons.size() - 1;  // closed some other way: as Escape
}

}  // namespace sayloft
