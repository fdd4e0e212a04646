// The controller's construction, launch sequence, failure display, reopen,
// activation and close guard.

#include "app/installer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <chrono>
#include <string>

#include "app/installer_window.h"
#include "app/line_limited_label.h"
#include "core/note.h"
#include "download/cache_paths.h"
#include "ui/bar.h"
#include "ui/primary_button.h"

namespace orbitreel {

namespace {

constexpr auto LaunchCheckDelay = std::chrono::milliseconds(600);
constexpr double RequestTimeout = 60;
constexpr double ResourceTimeout = 7200;

QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

Installer::Installer(const Platform& platform, QObject* parent)
    : QObject(parent),
      platform_(platform),
      status(new LineLimitedLabel(QStringLiteral("Procesá y guardá tus videos en tu Mac."))),
      details(new LineLimitedLabel(QString())),
      bar(new Bar()),
      fm(*platform.files) {
    terminate = [] { QCoreApplication::exit(0); };
    runAlert = [this](const QString& message, const QString& informative) {
        QMessageBox alert(window);
        alert.setText(message);
        alert.setInformativeText(informative);
        alert.setWindowModality(Qt::ApplicationModal);
        (void)alert.exec();
    };
}

Installer::~Installer() {
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

QWidget* Installer::windowWidget() const { return window; }
QLabel* Installer::statusLabel() const { return status; }
QLabel* Installer::detailsLabel() const { return details; }

void Installer::applicationWillFinishLaunching() {
    // An ordinary application with a window and a taskbar entry is what a Qt
    // application is from the start; only the launch line remains to write.
    note(platform_, "launch " + platform_.bundles->mainBundlePath().string());
}

void Installer::applicationDidFinishLaunching() {
    buildWindow();
    note(platform_, "layout placed");
    showWindow();
    platform_.queues->onMainAfter(LaunchCheckDelay, [self = QPointer<Installer>(this)] {
        if (self) self->delayedLaunchCheck();
    });

    auto checked = checkedRelease(platform_);
    if (!checked) return failLaunch(checked.error());
    release = std::move(*checked);

    const Path home = platform_.environment->homeDirectory();
    if (auto made = fm.createDirectories(versionDirectory(home, release->version)); !made)
        return failLaunch(made.error());

    details->setText(qt("Versión " + release->version + " · " + std::to_string(release->bytes / 1000000) + " MB"));

    SessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = RequestTimeout;
    configuration.timeoutIntervalForResource = ResourceTimeout;
    // Some overrun is only shown (over 100%); a body twice the release's
    // size is not the release.
    configuration.largestFile = 2 * release->bytes;
    session = platform_.urlSessions->makeSession(configuration, *this);
}

void Installer::failLaunch(const Error& error) {
    fail(error);
    if (action) action->setEnabled(false);
}

void Installer::delayedLaunchCheck() {
    const bool active = QGuiApplication::applicationState() == Qt::ApplicationActive;
    if (window && window->isVisible() && active) return;
    showWindow();
}

void Installer::fail(const Error& error) {
    const std::string text = error.localizedDescription();
    note(platform_, "error " + text);
    busy = false;
    bar->stopAnimation();
    bar->setIndeterminate(false);
    status->setText(qt(text));
    if (action) {
        action->setText(QStringLiteral("Reintentar"));
        action->setEnabled(true);
    }
}

bool Installer::applicationShouldHandleReopen() {
    showWindow();
    return true;
}

void Installer::applicationDidBecomeActive() {
    if (window && !window->isVisible()) showWindow();
}

bool Installer::windowShouldClose() {
    if (busy) {
        runAlert(QStringLiteral("Instalación en curso"), QStringLiteral("Esperá a que termine para cerrar."));
        return false;
    }
    terminate();
    return true;
}

}  // namespace orbitreel
