#pragma once

#include <QFont>
#include <QPainterPath>
#include <QSize>
#include <QString>

class QPainter;

namespace sayloft {

// The look of the status panel, shared by every panel backend (a Qt window, a Wayland layer
// surface): a rounded rectangle of black at 75 % opacity with the text centred in white, 20 px
// medium weight, inset 18 px at the sides and 10 px at top and bottom; at least 220 x 48 and as
// wide and tall as the text needs with the insets. Sizes are logical pixels; painting at a
// higher device pixel ratio is the painter's device's business. Emoji come from the font
// database's fallback fonts (Noto Color Emoji), so a QGuiApplication must exist.
class PanelPainter {
public:
    static constexpr int initialWidth = 220;
    static constexpr int initialHeight = 48;
    static constexpr int horizontalInset = 18;
    static constexpr int verticalInset = 10;
    static constexpr int cornerRadius = 12;
    static constexpr int fontPixelSize = 20;

    // base: the family to start from (the application's font); size and weight are set here.
    explicit PanelPainter(QFont base);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    const QFont& font() const { return font_; }
    // The panel's outer size for the current text.
    QSize size() const { return size_; }
    // The rounded outline of the panel at size(), for a window shape.
    QPainterPath outline() const;
    // Paints the whole panel in (0, 0, size()): the corners outside the outline transparent.
    void paint(QPainter& painter) const;

private:
    QFont font_;
    QString text_;
    QSize size_{initialWidth, initialHeight};
};

}  // namespace sayloft
