#include "ui/palette.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace orbitreel::Palette {

QColor rgb(unsigned hex, double alpha) {
    QColor color(static_cast<int>((hex >> 16) & 0xFF), static_cast<int>((hex >> 8) & 0xFF),
                 static_cast<int>(hex & 0xFF));
    // QColor warns about and rejects an alpha outside 0…1; clamp instead.
    color.setAlphaF(std::isnan(alpha) ? 0.0f : static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return color;
}

// Function-local statics: created once, on first use, safely under races.
const QColor& paper() {
    static const QColor color = rgb(0x1F2126);
    return color;
}
const QColor& surface() {
    static const QColor color = rgb(0x2B2E35);
    return color;
}
const QColor& surface2() {
    static const QColor color = rgb(0x33363E);
    return color;
}
const QColor& ink() {
    static const QColor color = rgb(0xFFFFFF);
    return color;
}
const QColor& ink2() {
    static const QColor color = rgb(0x9A9DA3);
    return color;
}
const QColor& ink3() {
    static const QColor color = rgb(0x93969D);
    return color;
}
const QColor& accent() {
    static const QColor color = rgb(0xFFFFFF);
    return color;
}
const QColor& accent2() {
    static const QColor color = rgb(0xE4E5E8);
    return color;
}
const QColor& accentInk() {
    static const QColor color = rgb(0x1F2126);
    return color;
}

LabelText labelText(const QString& text, double size, const QColor& color) {
    LabelText result;
    // QString::toUpper is Unicode's full case mapping ("ß" → "SS") and never
    // consults the locale, so a Turkish "i" still becomes "I".
    result.text = text.toUpper();
    result.kerning = size * 0.18;
    result.font = label(size);
    // Qt keeps letter spacing in 1/64 steps and truncates; give it the
    // nearest step instead (1.98 would otherwise shrink to 1.96875).
    result.font.setLetterSpacing(QFont::AbsoluteSpacing, std::round(result.kerning * 64) / 64);
    result.color = color;
    return result;
}

QSizeF LabelText::size() const {
    const QFontMetricsF metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

}  // namespace orbitreel::Palette
