#include "ui/palette.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLocale>
#include <QTemporaryDir>

namespace orbitreel {
namespace {

TEST(Palette, RgbTakesTheLow24BitsAsSrgbComponents) {
    const QColor paper = Palette::rgb(0x1F2126);
    EXPECT_EQ(paper, paper.toRgb()) << "an RGB colour";
    EXPECT_NEAR(paper.redF(), 31 / 255.0, 1e-6);
    EXPECT_NEAR(paper.greenF(), 33 / 255.0, 1e-6);
    EXPECT_NEAR(paper.blueF(), 38 / 255.0, 1e-6);
    EXPECT_EQ(paper.alphaF(), 1.0f);

    EXPECT_EQ(Palette::rgb(0xAB1F2126), paper);
    EXPECT_NEAR(Palette::rgb(0x1F2126, 0.5).alphaF(), 0.5, 1e-4);

    EXPECT_EQ(Palette::accent2(), QColor(228, 229, 232));
}

TEST(Palette, LabelTextUpperCasesWholeUnicodeWhateverTheLocaleAndSpacesBySize) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    const auto spaced = Palette::labelText(QString::fromUtf8("straße listo"), 11, Palette::ink2());
    QLocale::setDefault(previous);

    EXPECT_EQ(spaced.text, QString::fromUtf8("STRASSE LISTO"));
    EXPECT_DOUBLE_EQ(spaced.kerning, 11 * 0.18);
    EXPECT_EQ(spaced.font.letterSpacingType(), QFont::AbsoluteSpacing);
    EXPECT_NEAR(spaced.font.letterSpacing(), 1.98, 1.0 / 128);  // Qt keeps 1/64 steps
    EXPECT_EQ(spaced.font.pixelSize(), 11);
    EXPECT_EQ(spaced.font.family(), Palette::label(11).family());
    EXPECT_EQ(spaced.color, Palette::ink2());
}

TEST(Palette, RolesFallBackToSystemFontsWhenNoFaceExists) {
    QFontDatabase::removeAllApplicationFonts();
    if (Palette::face({"Oxanium-Bold", "Oxanium Bold", "KodeMono-SemiBold", "KodeMono-Bold", "Kode Mono",
                       "ChakraPetch-Regular", "Chakra Petch"},
                      12))
        GTEST_SKIP() << "the brand fonts are installed on this system";

    EXPECT_FALSE(Palette::face({}, 12));
    const QFont label = Palette::label(12);
    EXPECT_EQ(label.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(label.pixelSize(), 12);
    EXPECT_EQ(label.weight(), QFont::DemiBold);
    EXPECT_TRUE(QFontInfo(label).fixedPitch());

    const QFont display = Palette::display(28);
    EXPECT_EQ(display.family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    EXPECT_EQ(display.pixelSize(), 28);
    EXPECT_EQ(display.weight(), QFont::Bold);

    EXPECT_EQ(Palette::body(14).weight(), QFont::Normal);
    EXPECT_EQ(Palette::body(14).pixelSize(), 14);
}

TEST(Palette, BundledFontsServeTheRolesUntilTheyAreRemoved) {
    QTemporaryDir resources;
    ASSERT_TRUE(resources.isValid());
    ASSERT_TRUE(QDir(resources.path()).mkdir("Fonts"));
    for (const QString& name : QDir(ORBITREEL_FONTS_DIR).entryList({"*.woff2"}))
        ASSERT_TRUE(
            QFile::copy(QDir(ORBITREEL_FONTS_DIR).filePath(name), QDir(resources.path()).filePath("Fonts/" + name)));
    // Something that is not a font is skipped without harm.
    QFile junk(QDir(resources.path()).filePath("Fonts/Broken-Regular.woff2"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a font");
    junk.close();

    QFontDatabase::removeAllApplicationFonts();
    Palette::registerBundledFonts(resources.path() + "/missing");  // silently nothing
    Palette::registerBundledFonts(resources.path());

    ASSERT_TRUE(Palette::face({"Oxanium-Bold"}, 26));
    const QFontInfo display(Palette::display(26));
    EXPECT_TRUE(display.family().startsWith("Oxanium")) << display.family().toStdString();
    EXPECT_EQ(display.styleName(), "Bold");
    EXPECT_EQ(display.pixelSize(), 26);

    const QFontInfo body(Palette::body(14));
    EXPECT_EQ(body.family(), "Chakra Petch");

    const QFontInfo label(Palette::label(12));
    EXPECT_TRUE(label.family().startsWith("Kode Mono")) << label.family().toStdString();
    EXPECT_EQ(label.styleName(), "SemiBold");

    // A PostScript name from the file's own name table resolves too.
    EXPECT_TRUE(Palette::face({"No Such Face", "ChakraPetch-Regular"}, 14));

    QFontDatabase::removeAllApplicationFonts();
    EXPECT_FALSE(Palette::face({"Oxanium-Bold"}, 26));
}

TEST(Palette, MarkFillsItsPolygonsAndLeavesTheRestTransparent) {
    const QImage mark = Palette::mark(64, Palette::ink());
    ASSERT_EQ(mark.size(), QSize(64, 64));
    const auto opaqueInk = [&](int x, int y) { return mark.pixel(x, y) == qRgba(255, 255, 255, 255); };
    const auto clear = [&](int x, int y) { return qAlpha(mark.pixel(x, y)) == 0; };

    // The upper-left bracket's top bar: x 0…44.16, y 1.92…10.24.
    for (int x : {0, 20, 43})
        for (int y : {2, 9}) EXPECT_TRUE(opaqueInk(x, y)) << x << "," << y;
    EXPECT_TRUE(clear(46, 5));
    EXPECT_TRUE(clear(20, 0));
    EXPECT_TRUE(clear(20, 11));
    EXPECT_TRUE(clear(63, 0));
    // Its leg, the other bracket's leg and the triangle.
    EXPECT_TRUE(opaqueInk(4, 40));
    EXPECT_TRUE(opaqueInk(60, 40));
    EXPECT_TRUE(opaqueInk(30, 32));  // inside the triangle, near its left edge at 24
    EXPECT_TRUE(clear(20, 32));      // between the leg and the triangle

    const QImage sharp = Palette::mark(64, Palette::ink(), 2.0);
    EXPECT_EQ(sharp.size(), QSize(128, 128));
    EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(64, 64));
    EXPECT_EQ(qAlpha(sharp.pixel(86, 10)), 255);  // the same top bar, in device pixels
    EXPECT_EQ(qAlpha(sharp.pixel(92, 10)), 0);
}

}  // namespace
}  // namespace orbitreel
