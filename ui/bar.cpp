#include "ui/bar.h"

#include <QAccessible>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>

#include "ui/accessibility.h"
#include "ui/palette.h"

namespace orbitreel {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::duration<double, std::milli> kFrame(1000.0 / 60.0);

}  // namespace

Bar::Bar(QWidget* parent) : QWidget(parent) { installAccessibility(); }

bool Bar::isAnimating() const { return timer_.isActive(); }

void Bar::setMinValue(double v) { minValue_ = v; }

void Bar::setMaxValue(double v) { maxValue_ = v; }

void Bar::setDoubleValue(double v) {
    doubleValue_ = v;
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, v);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

void Bar::setIndeterminate(bool on) {
    indeterminate_ = on;
    update();
}

void Bar::setPhase(double phase) {
    const double wrapped = std::fmod(phase, 1.0);
    phase_ = std::isnan(wrapped) ? 0.0 : (wrapped < 0 ? wrapped + 1.0 : wrapped);
    if (phase_ >= 1.0) phase_ = 0.0;  // -tiny + 1 rounds up to 1
    update();
}

void Bar::startAnimation() {
    if (timer_.isActive()) return;
    frameOrigin_ = Clock::now();
    framesSinceOrigin_ = 0;
    scheduleNextFrame();
}

void Bar::stopAnimation() {
    timer_.stop();
    update();
}

void Bar::tick() {
    phase_ = std::fmod(phase_ + 0.01, 1.0);
    update();
}

// Qt timers count whole milliseconds, so a plain repeating timer would run at
// 62.5 or 58.8 frames a second. Aiming each frame at origin + n/60 s keeps an
// exact 60 on average (17, 17, 16 ms, …) with a single timer.
void Bar::scheduleNextFrame() {
    const auto now = Clock::now();
    auto wait = (frameOrigin_ + (framesSinceOrigin_ + 1) * kFrame) - now;
    if (wait < -kFrame) {
        // The event loop was held up: start a new cadence instead of
        // catching up with a burst of frames.
        frameOrigin_ = now;
        framesSinceOrigin_ = 0;
        wait = kFrame;
    }
    const auto millis = std::chrono::duration<double, std::milli>(wait).count();
    timer_.start(std::max(0, static_cast<int>(std::lround(millis))), Qt::PreciseTimer, this);
}

void Bar::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    ++framesSinceOrigin_;
    tick();
    scheduleNextFrame();
}

QSize Bar::sizeHint() const { return {496, 24}; }

void Bar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Plain rectangles on whole points: no antialiasing, so edges stay crisp.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double width = this->width();
    const QRectF track(0, 12, width, 4);
    painter.fillRect(track, Palette::surface2());
    const QColor& fill = Palette::accent();

    if (indeterminate_) {
        const double segment = width * 0.25;
        const double left = (width + segment) * phase_ - segment;
        const QRectF visible = QRectF(left, 12, segment, 4).intersected(track);
        if (!visible.isEmpty()) painter.fillRect(visible, fill);
        return;
    }

    double fraction = doubleValue_ - minValue_;
    const double span = maxValue_ - minValue_;
    if (span >= 1) fraction /= span;  // a span below 1 never divides
    if (std::isnan(fraction) || fraction >= 1) fraction = 1;
    else if (fraction < 0) fraction = 0;

    painter.fillRect(QRectF(0, 12, width * fraction, 4), fill);
    if (fraction > 0 && fraction < 1) {
        const double marker = std::min(width * fraction, width - 1);
        painter.fillRect(QRectF(marker - 1, 7, 2, 14), fill);  // stem across the track
        painter.fillRect(QRectF(marker - 4, 1, 8, 8), fill);   // head above it
    }
}

}  // namespace orbitreel

#include "moc_bar.cpp"
