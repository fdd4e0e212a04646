// The interactive installer's process: the application object, one
// Installer for the life of the process, and the event loop.

#include "app/application.h"

#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/instance_folder.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "controller/installer.h"
#include "core/identity.h"
#include "install/install.h"
#include "ui/dark_palette.h"
#include "ui/palette.h"

namespace orbitreel {

namespace {

// Dialogs such as the close guard's alert follow the window's dark look.
void useDarkLook(QApplication& app) {
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setPalette(darkPalette());
}

}  // namespace

int runInteractiveInstaller(char* programName, const Platform& platform) {
    // Qt's own options (-reverse, -stylesheet, -platform…) are ignored like
    // any other argument: the application object sees the program name only.
    // It keeps the pointers, so they live as long as the process.
    static std::string fallbackName(InstallerName);
    static int qtArgumentCount = 1;
    static char* qtArguments[] = {programName ? programName : fallbackName.data(), nullptr};
    // Kept for the life of the process, never destroyed: see the end.
    auto* app = new QApplication(qtArgumentCount, qtArguments);
    QApplication::setApplicationName(QString::fromUtf8(InstallerName.data(), InstallerName.size()));
    QApplication::setQuitOnLastWindowClosed(false);

    // Opening the installer again while it runs brings the running one's
    // window forward instead of starting a second one on the same cache. The
    // lock is the person's, not their home's text: "/home/ann/" is
    // "/home/ann".
    const auto folder = instanceFolder(platform.environment->homeDirectory());
    auto* instance = new SingleInstance(folder ? QString::fromStdString(folder->string()) : QString(),
                                        SingleInstance::keyFor(::getuid()), app);
    const auto claim = instance->claim();
    if (claim == SingleInstance::Claim::elsewhere) return 0;
    // Another installer of the person's may be mid-swap unless the lock is
    // ours; its copies in progress then look like a killed run's.
    const Leftovers leftovers = claim == SingleInstance::Claim::held ? Leftovers::recover : Leftovers::leaveAlone;

    useDarkLook(*app);
    Palette::registerBundledFonts(
        QString::fromStdString((platform.bundles->mainBundlePath() / "Contents" / "Resources").string()));

    auto* delegate = new Installer(platform, leftovers, app);

    QObject::connect(instance, &SingleInstance::reopenRequested, delegate,
                     [delegate] { (void)delegate->applicationShouldHandleReopen(); });
    QObject::connect(app, &QGuiApplication::applicationStateChanged, delegate, [delegate](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) delegate->applicationDidBecomeActive();
    });
    // A quit request from the system ends the installer in every state, busy
    // or not: only closing the window is guarded.
    new QuitSignals([delegate] { delegate->terminate(); }, app);
    QObject::connect(app, &QGuiApplication::commitDataRequest, delegate, [delegate] { delegate->terminate(); });

    delegate->applicationWillFinishLaunching();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    const int status = app->exec();

    // Termination ends the process here. Tearing objects down instead would
    // wait for a verification job or a transfer still running on other
    // threads, and the work they post would find its receivers gone.
    instance->release();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace orbitreel
