#include "ui/installer_window.h"

#include <QCloseEvent>
#include <utility>

namespace orbitreel {

InstallerWindow::InstallerWindow(std::function<bool()> shouldClose, int width, int height)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      shouldClose_(std::move(shouldClose)) {
    setFixedSize(width, height);
}

void InstallerWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose_()) event->accept();
    else event->ignore();
}

}  // namespace orbitreel
