#pragma once
// The installer's own progress bar: determinate with a marker, or an
// indeterminate segment sweeping at 60 frames a second.

#include <QBasicTimer>
#include <QWidget>

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

    void setMinValue(double v);       // stored only, no redraw
    void setMaxValue(double v);       // stored only, no redraw
    void setDoubleValue(double v);    // redraws
    void setIndeterminate(bool on);   // redraws
    void setPhase(double phase);      // for pictures and tests

    void startAnimation();
    void stopAnimation();
    void tick();

protected:
    void paintEvent(QPaintEvent*) override;
    void timerEvent(QTimerEvent*) override;

private:
    double minValue_ = 0;
    double maxValue_ = 100;
    double doubleValue_ = 0;
    bool indeterminate_ = false;
    double phase_ = 0;
    // ... the ui implementation owns the timer
};

}  // namespace orbitreel
