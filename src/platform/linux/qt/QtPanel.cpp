#include "platform/linux/qt/QtPanel.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace sayloft {

class QtPanel::View final : public QWidget {
public:
    View()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                               Qt::X11BypassWindowManagerHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setWindowTitle(QStringLiteral("Sayloft"));
        QFont font = this->font();
        font.setPixelSize(fontPixelSize);
        font.setWeight(QFont::Medium);
        setFont(font);
        resize(static_cast<int>(initialWidth), static_cast<int>(initialHeight));
    }

    void setText(const QString& text) {
        text_ = text;
        const QFontMetrics metrics(font());
        const int width = std::max(static_cast<int>(initialWidth),
                                   metrics.horizontalAdvance(text_) + 2 * horizontalInset);
        const int height =
            std::max(static_cast<int>(initialHeight), metrics.height() + 2 * verticalInset);
        resize(width, height);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        QPainterPath background;
        background.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        // Black at 75 % opacity; without a compositor the alpha is lost and the shape mask below
        // keeps the corners round.
        painter.fillPath(background, QColor(0, 0, 0, 191));
        painter.setPen(Qt::white);
        painter.drawText(
            rect().adjusted(horizontalInset, verticalInset, -horizontalInset, -verticalInset),
            Qt::AlignCenter, text_);
    }

    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }

private:
    QString text_;
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
