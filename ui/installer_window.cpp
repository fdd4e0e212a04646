#include "ui/installer_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QStyle>
#include <utility>

#include "ui/accessibility.h"

namespace orbitreel {

InstallerWindow::InstallerWindow(std::function<bool()> shouldClose, int width, int height)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      shouldClose_(std::move(shouldClose)) {
    installAccessibility();
    setFixedSize(width, height);
}

void InstallerWindow::setMark(const QPixmap& mark, const QRect& frame) {
    mark_ = mark;
    markFrame_ = frame;
    update(frame);
}

void InstallerWindow::paintEvent(QPaintEvent*) {
    if (mark_.isNull()) return;
    QPainter painter(this);
    // As a label draws its pixmap, so the pixels stay what they were.
    style()->drawItemPixmap(&painter, markFrame_, Qt::AlignCenter, mark_);
}

void InstallerWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose_()) event->accept();
    else event->ignore();
}

}  // namespace orbitreel

#include "moc_installer_window.cpp"
