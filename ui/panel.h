#pragma once
// The rounded panel behind the status text.

#include <QColor>
#include <QWidget>

namespace orbitreel {

class Panel : public QWidget {
    Q_OBJECT
public:
    Panel(const QColor& fill, double cornerRadius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    double cornerRadius_;
};

}  // namespace orbitreel
