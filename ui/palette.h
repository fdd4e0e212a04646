#pragma once
// The installer's visual identity: colours, font roles, spaced capital labels
// and the brand mark.
//
// Sizes are points as the window's frames are: one point is one
// device-independent pixel, so fonts are sized in pixels (see palette.cpp).

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

namespace orbitreel::Palette {

// An sRGB colour from 0xRRGGBB (bits above the low 24 ignored).
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
// A name is a PostScript-style name ("Oxanium-Bold"), a full name
// ("Oxanium Bold") or a family name ("Chakra Petch").
std::optional<QFont> face(const QStringList& names, double size);
QFont display(double size);
QFont body(double size);
QFont label(double size);

// A spaced capital label: the text upper-cased (full Unicode, independent of
// the locale), in label(size) with the kerning already applied to `font`
// (Qt carries letter spacing on the font), `color`, kerning size × 0.18.
struct LabelText {
    QString text;
    QFont font;
    QColor color;
    double kerning = 0;

    // The laid-out size of one line of `text` in `font`, kerning included.
    QSizeF size() const;
};
LabelText labelText(const QString& text, double size, const QColor& color);

// The brand mark, `size` × `size` points, drawn from its three polygons;
// transparent elsewhere. The image holds size × devicePixelRatio pixels.
QImage mark(double size, const QColor& color, double devicePixelRatio = 1.0);

// Registers the brand fonts shipped in `resourcesFolder`/Fonts (*.woff2).
// A missing folder or an unreadable file is skipped: the roles fall back.
void registerBundledFonts(const QString& resourcesFolder);

}  // namespace orbitreel::Palette
