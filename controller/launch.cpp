// The launch sequence: the window, the release check, the version folder and
// the URL session; and the second look at the window a moment later.

#include <QGuiApplication>
#include <QPointer>
#include <chrono>
#include <string>

#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/note.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "ui/installer_window.h"
#include "ui/line_limited_label.h"
#include "ui/qt_text.h"

namespace orbitreel {

namespace {

constexpr auto LaunchCheckDelay = std::chrono::milliseconds(600);
constexpr double RequestTimeout = 60;
constexpr double ResourceTimeout = 7200;

}  // namespace

void Installer::applicationWillFinishLaunching() {
    assertOn(Affinity::main);
    // An ordinary application with a window and a taskbar entry is what a Qt
    // application is from the start; only the launch line remains to write.
    note(platform_, "launch " + platform_.bundles->mainBundlePath().string());
}

void Installer::applicationDidFinishLaunching() {
    assertOn(Affinity::main);
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

    details->setText(qt(texts::releaseDetails(release->version, release->bytes)));

    SessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = RequestTimeout;
    configuration.timeoutIntervalForResource = ResourceTimeout;
    // Some overrun is only shown (over 100%); a body twice the release's
    // size is not the release.
    configuration.largestFile = 2 * release->bytes;
    session = platform_.urlSessions->makeSession(configuration, *this);
}

void Installer::delayedLaunchCheck() {
    assertOn(Affinity::main);
    const bool active = QGuiApplication::applicationState() == Qt::ApplicationActive;
    if (window && window->isVisible() && active) return;
    showWindow();
}

}  // namespace orbitreel
