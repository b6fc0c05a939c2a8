#include "platform/linux/qt/QtUpdateWindow.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

namespace sayloft {

QtUpdateWindow::QtUpdateWindow() = default;

QtUpdateWindow::~QtUpdateWindow() = default;

void QtUpdateWindow::build() {
    dialog_ = std::make_unique<QDialog>();
    dialog_->setWindowTitle(QApplication::applicationDisplayName());
    dialog_->setMinimumWidth(420);
    auto* layout = new QVBoxLayout(dialog_.get());
    title_ = new QLabel(dialog_.get());
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    title_->setTextFormat(Qt::PlainText);
    message_ = new QLabel(dialog_.get());
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    busy_ = new QProgressBar(dialog_.get());
    busy_->setRange(0, 0);  // no known end: a busy indicator
    busy_->setTextVisible(false);
    buttons_ = new QHBoxLayout();
    buttons_->addStretch();
    layout->addWidget(title_);
    layout->addWidget(message_);
    layout->addWidget(busy_);
    layout->addLayout(buttons_);
    // Escape and the close button reject the dialog; close() only hides it.
    QObject::connect(dialog_.get(), &QDialog::rejected, dialog_.get(),
                     [this] { choose(buttonCount_); });
}

void QtUpdateWindow::show(const UpdateWindowPage& page, Chosen chosen) {
    if (!dialog_) {
        build();
    }
    chosen_ = std::move(chosen);
    buttonCount_ = page.buttons.size();
    title_->setText(QString::fromStdString(page.title));
    message_->setText(QString::fromStdString(page.message));
    message_->setVisible(!page.message.empty());
    busy_->setVisible(page.busy);
    // Keeps the stretch (item 0), replaces the buttons. A page is often shown from a button's
    // own click, so the old buttons are deleted later, once that click has been handled.
    while (buttons_->count() > 1) {
        QLayoutItem* item = buttons_->takeAt(1);
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    for (std::size_t i = 0; i < page.buttons.size(); ++i) {
        auto* button = new QPushButton(QString::fromStdString(page.buttons[i]), dialog_.get());
        button->setAutoDefault(false);
        button->setDefault(i + 1 == page.buttons.size());
        QObject::connect(button, &QPushButton::clicked, dialog_.get(), [this, i] { choose(i); });
        buttons_->addWidget(button);
    }
    dialog_->adjustSize();
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void QtUpdateWindow::close() {
    if (dialog_) {
        dialog_->hide();
    }
}

void QtUpdateWindow::choose(std::size_t button) {
    // A copy: the choice may show the next page, which replaces chosen_.
    const Chosen chosen = chosen_;
    if (chosen) {
        chosen(button);
    }
}

}  // namespace sayloft
