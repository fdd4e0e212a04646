// The window as the user sees it: frames, texts, fonts, colours, line limits,
// the Return key, accessibility and placement on screen.

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "tests/support/event_loop.h"
#include "tests/support/installer_world.h"
#include "ui/bar.h"
#include "ui/line_limited_label.h"
#include "ui/palette.h"
#include "ui/primary_button.h"

namespace orbitreel {
namespace {

using test_support::InstallerWorld;
using Launched = test_support::InstallerRun;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.writeManifest(48213405, std::string(64, 'a'));
        installed.launch();
        window = installed.installer->windowWidget();
        ASSERT_NE(window, nullptr);
    }

    // Every view of the window, by the text or type that tells it apart.
    QRect frameInWindow(QWidget* view) { return QRect(view->mapTo(window, QPoint(0, 0)), view->size()); }

    template <class View>
    View* viewWithText(const QString& text) {
        for (auto* view : window->findChildren<View*>())
            if (view->text() == text) return view;
        return nullptr;
    }

    InstallerWorld world;
    Launched installed{world};
    QWidget* window = nullptr;
};

TEST_F(WindowTest, ViewsSitAtTheirFramesWithTheirTexts) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Instalar Orbitreel"));
    EXPECT_EQ(window->size(), QSize(560, 520));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const auto flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    auto* caption = viewWithText<QLabel>(QStringLiteral("MACOS 14 O POSTERIOR"));
    auto* title = viewWithText<QLabel>(QStringLiteral("Orbitreel en tu Mac"));
    ASSERT_TRUE(caption && title);
    // The mark is drawn on the window itself, in its frame.
    const QImage picture = window->grab().toImage();
    int markPixels = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (QColor(picture.pixel(x, y)) == Palette::ink() && QRect(32, 40, 28, 28).contains(x, y)) ++markPixels;
    EXPECT_GT(markPixels, 50);
    EXPECT_EQ(window->childAt(46, 54), nullptr);

    auto* status = installed.installer->statusLabel();
    EXPECT_EQ(frameInWindow(caption), QRect(72, 45, 456, 18));
    EXPECT_EQ(frameInWindow(title), QRect(32, 84, 496, 36));
    EXPECT_EQ(frameInWindow(status->parentWidget()), QRect(32, 148, 496, 112));
    EXPECT_EQ(frameInWindow(status), QRect(48, 160, 464, 88));
    EXPECT_EQ(frameInWindow(installed.installer->progressBar()), QRect(32, 284, 496, 24));
    EXPECT_EQ(frameInWindow(installed.installer->detailsLabel()), QRect(32, 316, 496, 36));
    EXPECT_EQ(frameInWindow(installed.installer->actionButton()), QRect(278, 412, 250, 44));

    EXPECT_EQ(status->text(), QStringLiteral("Procesá y guardá tus videos en tu Mac."));
    EXPECT_EQ(installed.installer->actionButton()->text(), QStringLiteral("Descargar e instalar"));
    EXPECT_EQ(title->font(), Palette::display(26));
    EXPECT_EQ(status->font(), Palette::body(14));
    EXPECT_NEAR(caption->font().letterSpacing(), 11 * 0.18, 1.0 / 64);  // Qt keeps 1/64 px
    EXPECT_EQ(caption->palette().color(QPalette::WindowText), Palette::ink2());
    EXPECT_EQ(installed.installer->detailsLabel()->palette().color(QPalette::WindowText), Palette::ink3());

    // The details line's figures keep their width as they change.
    const QFontMetricsF digits(installed.installer->detailsLabel()->font());
    EXPECT_EQ(digits.horizontalAdvance(QLatin1Char('1')), digits.horizontalAdvance(QLatin1Char('8')));
}

TEST_F(WindowTest, StaysDarkInALightDesktopTheme) {
    QPalette light;
    light.setColor(QPalette::Window, Qt::white);
    light.setColor(QPalette::WindowText, Qt::black);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(light);
    const QImage picture = window->grab().toImage();
    QApplication::setPalette(before);

    EXPECT_EQ(QColor(picture.pixel(5, 5)), Palette::paper());
    EXPECT_EQ(QColor(picture.pixel(300, 500)), Palette::paper());
    EXPECT_EQ(QColor(picture.pixel(40, 155)), Palette::surface());  // inside the panel
}

TEST_F(WindowTest, LongTextsStopAtTheirLineLimits) {
    auto* status = static_cast<LineLimitedLabel*>(installed.installer->statusLabel());
    auto* details = static_cast<LineLimitedLabel*>(installed.installer->detailsLabel());
    QString longText;
    for (int i = 0; i < 60; ++i) longText += QStringLiteral("palabra%1 ").arg(i);
    status->setText(longText);
    details->setText(longText);

    const auto shown = status->shownLines();
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(details->shownLines().size(), 2);
    // Wrapped at word boundaries: every line ends on a whole word.
    for (const auto& line : shown) EXPECT_TRUE(line.split(' ').last().startsWith(QStringLiteral("palabra")));
    EXPECT_EQ(status->text(), longText);  // the text itself is kept whole

    // Nothing is drawn below the fourth line, inside the label's frame.
    const QImage picture = window->grab().toImage();
    const QRect frame(status->mapTo(window, QPoint(0, 0)), status->size());
    const int below = frame.top() + int(4 * QFontMetricsF(status->font()).lineSpacing()) + 2;
    bool drawnAbove = false;
    for (int y = frame.top(); y <= frame.bottom(); ++y)
        for (int x = frame.left(); x <= frame.right(); ++x) {
            const bool plain = QColor(picture.pixel(x, y)) == Palette::surface();
            if (y >= below) {
                ASSERT_TRUE(plain) << x << "," << y;
            }
            if (!plain) drawnAbove = true;
        }
    EXPECT_TRUE(drawnAbove);

    // A line feed starts a new line, as the interruption message needs.
    status->setText(QStringLiteral("Se cortó la descarga.\nSin conexión."));
    EXPECT_EQ(status->shownLines(),
              QStringList({QStringLiteral("Se cortó la descarga."), QStringLiteral("Sin conexión.")}));
}

TEST_F(WindowTest, ReturnPressesTheButtonOnlyWhileItIsEnabled) {
    auto* button = installed.installer->actionButton();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));  // keys go to the active window
    QSignalSpy clicks(button, &QPushButton::clicked);
    button->setEnabled(false);
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 0);
    button->setEnabled(true);
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(installed.installer->isBusy());  // the press reached start
}

TEST_F(WindowTest, AccessibilityNamesTheWindowTheBarAndTheButton) {
    // A frame named by its title, as screen readers find windows; the mark
    // is decoration and not among what they read.
    auto* windowAccess = QAccessible::queryAccessibleInterface(window);
    ASSERT_NE(windowAccess, nullptr);
    EXPECT_EQ(windowAccess->role(), QAccessible::Window);
    EXPECT_EQ(windowAccess->text(QAccessible::Name), QStringLiteral("Instalar Orbitreel"));
    for (int i = 0; i < windowAccess->childCount(); ++i)
        EXPECT_NE(windowAccess->child(i)->role(), QAccessible::Graphic) << i;

    auto* bar = installed.installer->progressBar();
    bar->setDoubleValue(37.5);
    auto* barAccess = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(barAccess, nullptr);
    EXPECT_EQ(barAccess->role(), QAccessible::ProgressBar);
    EXPECT_EQ(barAccess->text(QAccessible::Name), QStringLiteral("Progreso de la instalación"));
    ASSERT_NE(barAccess->valueInterface(), nullptr);
    EXPECT_DOUBLE_EQ(barAccess->valueInterface()->currentValue().toDouble(), 37.5);

    auto* buttonAccess = QAccessible::queryAccessibleInterface(installed.installer->actionButton());
    ASSERT_NE(buttonAccess, nullptr);
    EXPECT_EQ(buttonAccess->role(), QAccessible::Button);
    EXPECT_EQ(buttonAccess->text(QAccessible::Name), QStringLiteral("Descargar e instalar"));
}

TEST_F(WindowTest, ShowWindowRestoresAndBringsBackOffScreenWindows) {
    const auto lines = world.logLines();
    const int screens = int(QGuiApplication::screens().size());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("window visible=true active=", 0), 0u) << lines.back();
    EXPECT_TRUE(lines.back().ends_with(" screens=" + std::to_string(screens))) << lines.back();

    window->showMinimized();
    installed.installer->showWindow();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());

    // Partly on screen: it stays where it is.
    const QRect usable = QGuiApplication::primaryScreen()->availableGeometry();
    window->move(usable.right() - 100, usable.top() + 50);
    test_support::settle();
    const QPoint partly = window->pos();
    installed.installer->showWindow();
    EXPECT_EQ(window->pos(), partly);

    // Entirely off every screen: centred again.
    window->move(usable.right() + 2000, usable.bottom() + 2000);
    test_support::settle();
    installed.installer->showWindow();
    EXPECT_TRUE(usable.intersects(window->frameGeometry()));
}

}  // namespace
}  // namespace orbitreel
