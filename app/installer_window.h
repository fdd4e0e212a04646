#pragma once
// The installer's one window: fixed size, closable and minimizable, and its
// closing is decided by the controller's close guard.

#include <QWidget>

namespace orbitreel {

class Installer;

class InstallerWindow : public QWidget {
    Q_OBJECT
public:
    InstallerWindow(Installer& installer, int width, int height);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Installer& installer_;
};

}  // namespace orbitreel
