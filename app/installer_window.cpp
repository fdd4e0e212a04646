#include "app/installer_window.h"

#include <QCloseEvent>

#include "app/installer.h"

namespace orbitreel {

InstallerWindow::InstallerWindow(Installer& installer, int width, int height)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      installer_(installer) {
    setFixedSize(width, height);
}

void InstallerWindow::closeEvent(QCloseEvent* event) {
    if (installer_.windowShouldClose())
        event->accept();
    else
        event->ignore();
}

}  // namespace orbitreel
