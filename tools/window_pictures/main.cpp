// Draws the installer's window in each of its states to PNG files, offscreen,
// driving a real Installer in the tests' world, with scripted services.
//
//   window_pictures [FOLDER]     (default: ./window-pictures)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <functional>

#include "controller/installer.h"
#include "tests/support/installer_world.h"
#include "tests/support/text_files.h"
#include "ui/bar.h"
#include "ui/palette.h"

namespace orbitreel::pictures {
namespace {

using test_support::InstallerRun;
using test_support::InstallerWorld;

constexpr std::int64_t ReleaseBytes = 48213405;

// Lets posted work land; the delegate calls post to the main queue.
void settle() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 150) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// One installer in a world of its own: a session whose tasks never go out,
// background jobs held (so a state that waits on one can be drawn), a
// running-application count to switch and a workspace that opens nothing.
struct Scene {
    explicit Scene(bool withManifest) : world({.holdBackgroundJobs = true}), run(world) {
        if (withManifest) world.writeManifest(ReleaseBytes, std::string(64, 'a'));
        run.launch();
        settle();
    }

    // A delegate call made the way the session makes them: off the main thread.
    void fromSession(const std::function<void(SessionDelegate&, DownloadTask&)>& call) {
        auto task = run.installer->currentTask();
        test_support::onSessionQueue([&] { call(*world.sessions.delegate, *task); });
        settle();
    }

    InstallerWorld world;
    InstallerRun run;
};

struct Picture {
    const char* name;
    bool withManifest;
    std::function<void(Scene&)> drive;
};

void downloadTo40Percent(Scene& scene) {
    scene.run.installer->start();
    scene.fromSession([](SessionDelegate& delegate, DownloadTask& task) {
        delegate.didWriteData(task, 65536, ReleaseBytes * 2 / 5, ReleaseBytes);
    });
}

const std::vector<Picture> pictures{
    {"ready", true, [](Scene&) {}},
    {"unavailable", false, [](Scene&) {}},
    {"refused", true,
     [](Scene& scene) {
         scene.world.runningApplications.running = 1;
         scene.run.installer->start();
     }},
    {"downloading", true, downloadTo40Percent},
    {"verifying-and-installing", true,
     [](Scene& scene) {
         test_support::writeText(scene.world.image(), "image");
         scene.run.installer->start();
         scene.run.installer->progressBar()->setPhase(0.45);
     }},
    {"failed", true,
     [](Scene& scene) {
         downloadTo40Percent(scene);
         scene.fromSession([](SessionDelegate& delegate, DownloadTask& task) {
             delegate.didComplete(task, TransferError{PlatformError{"curl", 7, "No se pudo conectar con el servidor."},
                                                      Bytes{'r', 'e', 's', 'u', 'm', 'e'}});
         });
     }},
    {"installed", true,
     [](Scene& scene) {
         test_support::writeText(scene.world.image(), "image");
         scene.run.installer->start();
         scene.run.installer->finishInstall({scene.world.home / "Applications/Orbitreel.app", {}});
         settle();
     }},
};

}  // namespace
}  // namespace orbitreel::pictures

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    using namespace orbitreel;
    Palette::registerBundledFonts(QStringLiteral(ORBITREEL_RESOURCES_DIR));

    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("window-pictures"));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    int number = 1;
    for (const auto& picture : pictures::pictures) {
        pictures::Scene scene(picture.withManifest);
        picture.drive(scene);
        const QString file = out.absoluteFilePath(QStringLiteral("%1-%2.png").arg(number++).arg(picture.name));
        if (!scene.run.installer->windowWidget()->grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
