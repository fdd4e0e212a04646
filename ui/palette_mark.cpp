// The brand mark: two corner brackets and a play triangle on a 100 × 100
// grid, y growing downwards.

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "ui/palette.h"

namespace orbitreel::Palette {

namespace {

const QPolygonF& upperLeftBracket() {
    static const QPolygonF shape{{0, 3}, {69, 3}, {69, 16}, {13, 16}, {13, 67}, {0, 67}};
    return shape;
}
const QPolygonF& lowerRightBracket() {
    static const QPolygonF shape{{100, 97}, {31, 97}, {31, 84}, {87, 84}, {87, 33}, {100, 33}};
    return shape;
}
const QPolygonF& playTriangle() {
    static const QPolygonF shape{{37.5, 31}, {69, 50}, {37.5, 69}};
    return shape;
}

}  // namespace

QImage mark(double size, const QColor& color, double devicePixelRatio) {
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixels = std::max(1, static_cast<int>(std::ceil(std::max(size, 0.0) * ratio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);

    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    // One scale for x and y, from the width alone.
    const double scale = size / 100.0;
    for (const QPolygonF* shape : {&upperLeftBracket(), &lowerRightBracket(), &playTriangle()}) {
        path.moveTo(shape->first() * scale);
        for (qsizetype i = 1; i < shape->size(); ++i) path.lineTo(shape->at(i) * scale);
        path.closeSubpath();
    }

    QPainter painter(&image);  // paints in points; the ratio maps them to pixels
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, color);
    return image;
}

}  // namespace orbitreel::Palette
