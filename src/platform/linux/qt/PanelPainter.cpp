#include "platform/linux/qt/PanelPainter.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QRectF>
#include <algorithm>
#include <utility>

namespace sayloft {

PanelPainter::PanelPainter(QFont base) : font_(std::move(base)) {
    font_.setPixelSize(fontPixelSize);
    font_.setWeight(QFont::Medium);
}

void PanelPainter::setText(const QString& text) {
    text_ = text;
    const QFontMetrics metrics(font_);
    size_ = QSize(std::max(initialWidth, metrics.horizontalAdvance(text_) + 2 * horizontalInset),
                  std::max(initialHeight, metrics.height() + 2 * verticalInset));
}

QPainterPath PanelPainter::outline() const {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size_)), cornerRadius, cornerRadius);
    return path;
}

void PanelPainter::paint(QPainter& painter) const {
    const QRect rect(QPoint(0, 0), size_);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // Black at 75 % opacity; where the alpha is lost (X11 without a compositor) the window's
    // shape keeps the corners round.
    painter.fillPath(outline(), QColor(0, 0, 0, 191));
    painter.setFont(font_);
    painter.setPen(Qt::white);
    painter.drawText(
        rect.adjusted(horizontalInset, verticalInset, -horizontalInset, -verticalInset),
        Qt::AlignCenter, text_);
    painter.restore();
}

}  // namespace sayloft
