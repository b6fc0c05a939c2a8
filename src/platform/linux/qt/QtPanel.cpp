#include "platform/linux/qt/QtPanel.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <cmath>

#include "platform/linux/qt/PanelPainter.h"

namespace sayloft {

class QtPanel::View final : public QWidget {
public:
    View()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                               Qt::X11BypassWindowManagerHint),
          painter_(font()) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setWindowTitle(QStringLiteral("Sayloft"));
        setFont(painter_.font());
        resize(painter_.size());
    }

    void setText(const QString& text) {
        painter_.setText(text);
        resize(painter_.size());
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter_.paint(painter);
    }

    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        setMask(QRegion(painter_.outline().toFillPolygon().toPolygon()));
    }

private:
    PanelPainter painter_;
};

QtPanel::QtPanel() : view_(std::make_unique<View>()) {
}

QtPanel::~QtPanel() = default;

void QtPanel::setText(std::string_view utf8) {
    view_->setText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

Size QtPanel::size() const {
    return Size{static_cast<double>(view_->width()), static_cast<double>(view_->height())};
}

void QtPanel::setOrigin(Point origin) {
    view_->move(static_cast<int>(std::lround(origin.x)), static_cast<int>(std::lround(origin.y)));
}

void QtPanel::orderFront() {
    view_->show();
    view_->raise();
}

void QtPanel::orderOut() {
    view_->hide();
}

QWidget* QtPanel::widget() const {
    return view_.get();
}

}  // namespace sayloft
