// The window: building it, bringing it on screen and in front, reopen and
// activation, and the close guard.

#include <QGuiApplication>
#include <QScreen>

#include "controller/installer.h"
#include "core/note.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "ui/installer_window.h"
#include "ui/primary_button.h"
#include "ui/qt_text.h"
#include "ui/window_layout.h"

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
    assertOn(Affinity::main);
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

void Installer::buildWindow() {
    assertOn(Affinity::main);
    const auto views = buildInstallerWindow([this] { return windowShouldClose(); }, status, details, bar);
    window = views.window;
    action = views.action;
    connect(action, &QPushButton::clicked, this, &Installer::start);
}

bool Installer::applicationShouldHandleReopen() {
    assertOn(Affinity::main);
    showWindow();
    return true;
}

void Installer::applicationDidBecomeActive() {
    assertOn(Affinity::main);
    if (window && !window->isVisible()) showWindow();
}

bool Installer::windowShouldClose() {
    assertOn(Affinity::main);
    if (busy) {
        runAlert(qt(texts::Installing), qt(texts::WaitToClose));
        return false;
    }
    terminate();
    return true;
}

}  // namespace orbitreel
