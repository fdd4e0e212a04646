// Bringing the window on screen and in front.

#include <QGuiApplication>
#include <QScreen>

#include "app/installer.h"
#include "app/installer_window.h"
#include "core/note.h"

namespace orbitreel {

namespace {

bool onSomeScreen(const QRect& frame) {
    for (auto* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(frame)) return true;
    }
    return false;
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

}  // namespace

void Installer::showWindow() {
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    // A window entirely off every screen's usable area (a display was
    // unplugged) is brought back; one partly visible keeps its place.
    if (!onSomeScreen(window->frameGeometry())) {
        if (auto* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
    const bool active = QGuiApplication::applicationState() == Qt::ApplicationActive;
    note(platform_, std::string("window visible=") + yesNo(window->isVisible()) + " active=" + yesNo(active) +
                        " screens=" + std::to_string(QGuiApplication::screens().size()));
}

}  // namespace orbitreel
