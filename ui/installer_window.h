#pragma once
// The installer's one window: fixed size, closable and minimizable. Whether a
// close goes ahead is the controller's decision, asked through `shouldClose`.

#include <QWidget>
#include <functional>

namespace orbitreel {

class InstallerWindow : public QWidget {
    Q_OBJECT
public:
    InstallerWindow(std::function<bool()> shouldClose, int width, int height);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<bool()> shouldClose_;
};

}  // namespace orbitreel
