// The controller's construction, tear-down and read access.

#include "controller/installer.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "core/texts.h"
#include "core/thread_affinity.h"
#include "ui/bar.h"
#include "ui/installer_window.h"
#include "ui/line_limited_label.h"
#include "ui/qt_text.h"

namespace orbitreel {

Installer::Installer(const Platform& platform, Leftovers leftovers, QObject* parent)
    : QObject(parent),
      platform_(platform),
      leftovers_(leftovers),
      status(new LineLimitedLabel(qt(texts::Ready))),
      details(new LineLimitedLabel(QString())),
      bar(new Bar()),
      fm(*platform.files) {
    assertOn(Affinity::main);
    terminate = [] { QCoreApplication::exit(0); };
    replyToApplicationShouldTerminate = [] { QCoreApplication::exit(0); };
    runAlert = [this](const QString& message, const QString& informative) {
        QMessageBox alert(window);
        alert.setText(message);
        alert.setInformativeText(informative);
        alert.setWindowModality(Qt::ApplicationModal);
        (void)alert.exec();
    };
}

Installer::~Installer() {
    assertOn(Affinity::main);
    // The session goes first, so no delegate call reaches views being torn down.
    task.reset();
    session.reset();
    if (window) {
        delete window;  // owns the labels, the bar and the button
    } else {
        delete status;
        delete details;
        delete bar;
    }
}

QWidget* Installer::windowWidget() const {
    assertOn(Affinity::main);
    return window;
}

QLabel* Installer::statusLabel() const {
    assertOn(Affinity::main);
    return status;
}

QLabel* Installer::detailsLabel() const {
    assertOn(Affinity::main);
    return details;
}

}  // namespace orbitreel

#include "moc_installer.cpp"
