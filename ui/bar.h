#pragma once
// The installer's own progress bar: determinate with a marker, or an
// indeterminate segment sweeping at 60 frames a second.

#include <QBasicTimer>
#include <QWidget>
#include <chrono>

namespace orbitreel {

class Bar : public QWidget {
    Q_OBJECT
public:
    explicit Bar(QWidget* parent = nullptr);

    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    double doubleValue() const { return doubleValue_; }
    bool isIndeterminate() const { return indeterminate_; }
    double phase() const { return phase_; }
    bool isAnimating() const;

    void setMinValue(double v);      // stored only, no redraw
    void setMaxValue(double v);      // stored only, no redraw
    void setDoubleValue(double v);   // redraws
    void setIndeterminate(bool on);  // redraws
    void setPhase(double phase);     // for pictures and tests; wrapped into 0 ≤ phase < 1

    // Starting while running and stopping while stopped are harmless; neither
    // touches the phase or the mode.
    void startAnimation();
    void stopAnimation();
    // One animation step: the phase advances by 0.01, wrapping at 1.
    void tick();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void timerEvent(QTimerEvent*) override;

private:
    void scheduleNextFrame();

    double minValue_ = 0;
    double maxValue_ = 100;
    double doubleValue_ = 0;
    bool indeterminate_ = false;
    double phase_ = 0;

    // The one animation timer, re-armed each frame against a running deadline.
    QBasicTimer timer_;
    std::chrono::steady_clock::time_point frameOrigin_;
    long long framesSinceOrigin_ = 0;
};

}  // namespace orbitreel
