#pragma once
// Renders a widget into a transparent image at device pixel ratio 1, without
// the window background, so untouched pixels stay fully transparent.

#include <QColor>
#include <QImage>
#include <QWidget>

namespace orbitreel::test {

inline QImage renderWidget(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

inline bool sameColor(QRgb pixel, const QColor& color, int tolerance = 0) {
    return qAlpha(pixel) == 255 && std::abs(qRed(pixel) - color.red()) <= tolerance &&
           std::abs(qGreen(pixel) - color.green()) <= tolerance && std::abs(qBlue(pixel) - color.blue()) <= tolerance;
}

}  // namespace orbitreel::test
