#pragma once
// The installer's visual identity: colours, font roles, spaced capital labels
// and the brand mark.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>
#include <optional>

namespace orbitreel::Palette {

QColor rgb(unsigned hex, double alpha = 1.0);

const QColor& paper();
const QColor& surface();
const QColor& surface2();
const QColor& ink();
const QColor& ink2();
const QColor& ink3();
const QColor& accent();
const QColor& accent2();
const QColor& accentInk();

// The first of `names` that is installed, at `size` points; absent if none.
std::optional<QFont> face(const QStringList& names, double size);
QFont display(double size);
QFont body(double size);
QFont label(double size);

// A spaced capital label: the text upper-cased (full Unicode, independent of
// the locale), in label(size), `color`, kerning size × 0.18.
struct LabelText {
    QString text;
    QFont font;
    QColor color;
    double kerning = 0;
};
LabelText labelText(const QString& text, double size, const QColor& color);

// The brand mark, `size` × `size` points, drawn from its three polygons.
QImage mark(int size, const QColor& color, double devicePixelRatio = 1.0);

// Registers the brand fonts shipped in the bundle's resources.
void registerBundledFonts(const QString& resourcesFolder);

}  // namespace orbitreel::Palette
