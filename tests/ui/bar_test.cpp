#include "ui/bar.h"

#include <gtest/gtest.h>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QTest>
#include <limits>

#include "tests/ui/render.h"
#include "ui/palette.h"

namespace orbitreel {
namespace {

using test::renderWidget;
using test::sameColor;

constexpr int W = 496;

// What one pixel of a rendered bar shows.
enum class Shows { Accent, Track, Nothing };

Shows at(const QImage& image, int x, int y) {
    const QRgb pixel = image.pixel(x, y);
    if (qAlpha(pixel) == 0) return Shows::Nothing;
    if (sameColor(pixel, Palette::accent())) return Shows::Accent;
    if (sameColor(pixel, Palette::surface2())) return Shows::Track;
    ADD_FAILURE() << "unexpected colour at " << x << "," << y;
    return Shows::Nothing;
}

// The columns of track row `y` that show accent, as [first, end).
std::pair<int, int> accentRun(const QImage& image, int y) {
    int first = -1, end = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (at(image, x, y) != Shows::Accent) continue;
        if (first < 0) first = x;
        end = x + 1;
    }
    return {first, end};
}

struct Fixture : ::testing::Test {
    Bar bar;
    Fixture() { bar.resize(W, 24); }
};
using BarDrawing = Fixture;
using BarBehaviour = Fixture;

TEST_F(BarDrawing, HalfwayShowsTrackFillAndMarker) {
    bar.setDoubleValue(50);
    const QImage image = renderWidget(bar);

    // Track rows 12…15, out to W.
    EXPECT_EQ(at(image, W - 1, 12), Shows::Track);
    EXPECT_EQ(at(image, W - 1, 15), Shows::Track);
    EXPECT_EQ(at(image, W - 1, 11), Shows::Nothing);
    EXPECT_EQ(at(image, W - 1, 16), Shows::Nothing);
    // Fill to 248; the stem 247…249 continues it by one column on the track.
    EXPECT_EQ(accentRun(image, 13), std::make_pair(0, 249));
    EXPECT_EQ(at(image, 249, 13), Shows::Track);
    // Stem x 247…249 over y 7…21.
    for (int y : {9, 11, 16, 20}) EXPECT_EQ(accentRun(image, y), std::make_pair(247, 249)) << y;
    EXPECT_EQ(at(image, 247, 21), Shows::Nothing);
    // Head x 244…252 over y 1…9.
    for (int y : {1, 8}) EXPECT_EQ(accentRun(image, y), std::make_pair(244, 252)) << y;
    EXPECT_EQ(at(image, 247, 0), Shows::Nothing);
}

TEST_F(BarDrawing, EndsAndOddValuesShowNoMarkerOrStayInside) {
    for (double full : {100.0, 250.0, std::numeric_limits<double>::quiet_NaN()}) {
        bar.setDoubleValue(full);
        const QImage image = renderWidget(bar);
        EXPECT_EQ(accentRun(image, 12), std::make_pair(0, W)) << full;
        EXPECT_EQ(accentRun(image, 4), std::make_pair(-1, -1)) << full;  // no head
    }
    for (double empty : {0.0, -5.0}) {
        bar.setDoubleValue(empty);
        const QImage image = renderWidget(bar);
        EXPECT_EQ(accentRun(image, 12), std::make_pair(-1, -1)) << empty;
        EXPECT_EQ(at(image, 0, 12), Shows::Track);
        EXPECT_EQ(accentRun(image, 4), std::make_pair(-1, -1)) << empty;
    }

    // So close to full that W × F passes W − 1: the marker stops at W − 1.
    bar.setDoubleValue(99.9);
    const QImage nearlyFull = renderWidget(bar);
    EXPECT_EQ(accentRun(nearlyFull, 18), std::make_pair(W - 2, W));
    EXPECT_EQ(accentRun(nearlyFull, 4), std::make_pair(W - 5, W));

    // A span below 1 is not divided: 0.3 of 0…0.5 fills 30 percent.
    bar.setMaxValue(0.5);
    bar.setDoubleValue(0.3);
    const QImage smallSpan = renderWidget(bar);
    EXPECT_EQ(at(smallSpan, 147, 15), Shows::Accent);
    EXPECT_EQ(at(smallSpan, 152, 15), Shows::Track);
    EXPECT_EQ(accentRun(smallSpan, 18).first, 148);  // stem from 148.8 − 1, on whole pixels
}

TEST_F(BarDrawing, IndeterminateSegmentFollowsThePhaseAlone) {
    bar.setDoubleValue(50);  // ignored in this mode
    bar.setIndeterminate(true);
    bar.setPhase(0);
    const QImage start = renderWidget(bar);
    EXPECT_EQ(accentRun(start, 13), std::make_pair(-1, -1));
    EXPECT_EQ(at(start, 0, 13), Shows::Track);
    EXPECT_EQ(accentRun(start, 4), std::make_pair(-1, -1));

    bar.setPhase(0.5);
    const QImage middle = renderWidget(bar);
    EXPECT_EQ(accentRun(middle, 12), std::make_pair(186, 310));
    EXPECT_EQ(accentRun(middle, 15), std::make_pair(186, 310));
    EXPECT_EQ(accentRun(middle, 18), std::make_pair(-1, -1));
}

// Counts paint events, to see which setters ask for a redraw.
class CountingBar : public Bar {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        Bar::paintEvent(event);
    }
};

TEST(BarRedraw, RangeChangesWaitForTheNextRedraw) {
    CountingBar bar;
    bar.resize(W, 24);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.paints > 0; }));

    bar.paints = 0;
    bar.setMinValue(10);
    bar.setMaxValue(20);
    QTest::qWait(50);
    EXPECT_EQ(bar.paints, 0);

    bar.setDoubleValue(15);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar.paints > 0; }));
    const QImage image = renderWidget(bar);
    EXPECT_EQ(accentRun(image, 13), std::make_pair(0, W / 2 + 1));  // the new range
}

TEST_F(BarBehaviour, AnimationRunsOneTimerAndKeepsPhaseAndMode) {
    bar.setPhase(0.995);
    bar.tick();
    EXPECT_NEAR(bar.phase(), 0.005, 1e-9);  // wraps round
    bar.setPhase(0);

    bar.setIndeterminate(true);
    bar.startAnimation();
    bar.startAnimation();
    EXPECT_TRUE(bar.isAnimating());
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.phase() >= 0.03; }));

    bar.stopAnimation();
    EXPECT_FALSE(bar.isAnimating());
    const double stoppedAt = bar.phase();
    EXPECT_GT(stoppedAt, 0);
    QTest::qWait(60);  // room for a stray second timer to fire
    EXPECT_EQ(bar.phase(), stoppedAt);
    EXPECT_TRUE(bar.isIndeterminate());
}

TEST_F(BarBehaviour, AnswersAsAProgressIndicator) {
    bar.setDoubleValue(37.5);
    bar.setAccessibleName(QString::fromUtf8("Progreso de la instalación"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&bar);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::ProgressBar);
    EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8("Progreso de la instalación"));
    QAccessibleValueInterface* value = accessible->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toDouble(), 37.5);
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);
}

}  // namespace
}  // namespace orbitreel
