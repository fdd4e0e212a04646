#include "ui/primary_button.h"

#include <gtest/gtest.h>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QTest>

#include "tests/ui/render.h"
#include "ui/palette.h"

namespace orbitreel {
namespace {

using test::renderWidget;
using test::sameColor;

void pointerEnters(QWidget& widget) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&widget, &enter);
}

void pointerLeaves(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &leave);
}

// The slab's colour, and whether the title shows in `title`, centred.
struct Look {
    QColor fill;
    bool titleInColour = false;
    QPointF titleCentre;
};

Look lookOf(PrimaryButton& button, const QColor& title) {
    const QImage image = renderWidget(button);
    Look look;
    look.fill = QColor::fromRgba(image.pixel(6, 6));
    QRect ink;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = 3; x < image.width() - 3; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel == look.fill.rgba()) continue;
            ink |= QRect(x, y, 1, 1);
            if (sameColor(pixel, title, 1)) look.titleInColour = true;
        }
    look.titleCentre = QRectF(ink).center();
    return look;
}

// A shown, active window holding the button, as in the installer.
struct ButtonInWindow : ::testing::Test {
    QWidget window;
    PrimaryButton* button = new PrimaryButton(QString::fromUtf8("Descargar e instalar"), &window);

    void SetUp() override {
        window.resize(560, 520);
        button->setGeometry(278, 412, 250, 44);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);
    }
};

TEST_F(ButtonInWindow, FillAndTitleFollowEnabledPressedAndPointer) {
    Look rest = lookOf(*button, Palette::accentInk());
    EXPECT_EQ(rest.fill, Palette::accent());
    EXPECT_TRUE(rest.titleInColour);
    EXPECT_NEAR(rest.titleCentre.x(), 125, 3);  // the trailing kerning step shifts ink left
    EXPECT_NEAR(rest.titleCentre.y(), 22, 3);

    button->setDown(true);
    EXPECT_EQ(lookOf(*button, Palette::accentInk()).fill, Palette::accent2());
    button->setDown(false);

    pointerEnters(*button);
    const Look pointed = lookOf(*button, Palette::accentInk());
    EXPECT_EQ(pointed.fill, Palette::accent2());
    EXPECT_TRUE(pointed.titleInColour);
    pointerLeaves(*button);
    EXPECT_EQ(lookOf(*button, Palette::accentInk()).fill, Palette::accent());

    // Disabled wins over the pointer and the press; the pointer is still
    // inside when it is enabled again.
    pointerEnters(*button);
    button->setDown(true);
    button->setEnabled(false);
    const Look disabled = lookOf(*button, Palette::ink3());
    EXPECT_EQ(disabled.fill, Palette::surface2());
    EXPECT_TRUE(disabled.titleInColour);
    button->setDown(false);
    button->setEnabled(true);
    EXPECT_EQ(lookOf(*button, Palette::accentInk()).fill, Palette::accent2());
}

TEST_F(ButtonInWindow, KeyboardFocusRingFollowsTheRoundedEdge) {
    const QColor& ring = Palette::accentInk();
    // Focus alone, as the window's only control gets on activation, shows no ring.
    ASSERT_TRUE(button->hasFocus());
    EXPECT_TRUE(sameColor(renderWidget(*button).pixel(0, 22), Palette::accent()));

    button->clearFocus();
    QTest::keyClick(&window, Qt::Key_Tab);
    ASSERT_TRUE(button->hasFocus());
    const QImage image = renderWidget(*button);
    EXPECT_TRUE(sameColor(image.pixel(0, 22), ring));
    EXPECT_TRUE(sameColor(image.pixel(125, 1), ring));
    EXPECT_TRUE(sameColor(image.pixel(3, 22), Palette::accent()));
    EXPECT_LT(qAlpha(image.pixel(0, 0)), 255);  // the corner stays rounded
}

TEST(PrimaryButton, PointerIsIgnoredWhileTheApplicationIsInactive) {
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        GTEST_SKIP() << "an earlier test in this process activated a window; ctest runs this one alone";
    PrimaryButton button("Listo");
    button.resize(250, 44);
    pointerEnters(button);
    EXPECT_FALSE(button.isHovering());
    EXPECT_EQ(QColor::fromRgba(renderWidget(button).pixel(6, 6)), Palette::accent());
}

}  // namespace
}  // namespace orbitreel
