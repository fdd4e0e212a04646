#pragma once
// The installer's one window: fixed size, closable and minimizable. Whether a
// close goes ahead is the controller's decision, asked through `shouldClose`.
// The brand mark is drawn on the window itself: it is decoration, so it has
// no place among what assistive tools read.

#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <functional>

namespace orbitreel {

class InstallerWindow : public QWidget {
    Q_OBJECT
public:
    InstallerWindow(std::function<bool()> shouldClose, int width, int height);

    // Draws `mark` centred in `frame`.
    void setMark(const QPixmap& mark, const QRect& frame);

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<bool()> shouldClose_;
    QPixmap mark_;
    QRect markFrame_;
};

}  // namespace orbitreel
