// Draws the installer's window in each of its states to PNG files, offscreen,
// driving a real Installer with scripted services.
//
//   window_pictures [FOLDER]     (default: ./window-pictures)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "controller/installer.h"
#include "core/thread_affinity.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/linux/qt_queues.h"
#include "tools/window_pictures/scripted_services.h"
#include "ui/bar.h"
#include "ui/palette.h"

namespace orbitreel::pictures {
namespace {

constexpr std::int64_t ReleaseBytes = 48213405;

void writeFile(const Path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// Lets posted work land; the delegate calls post to the main queue.
void settle() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 150) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// One installer in a home and bundle of its own.
struct Scene {
    explicit Scene(const Path& folder, bool withManifest)
        : home(folder / "home"),
          files(makeLinuxFiles()),
          environment(home, makeLinuxEnvironment()),
          bundles(folder / "OrbitreelInstaller.app"),
          hashing(makeOpenSslHashing()),
          mainQueues(makeQtQueues()),
          queues(*mainQueues) {
        std::filesystem::create_directories(home / "tmp");
        if (withManifest)
            writeFile(folder / "OrbitreelInstaller.app/Contents/Resources/release.json",
                      "{\"version\": \"1.4.2\", \"url\": \"https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg\", "
                      "\"sha256\": \"" +
                          std::string(64, 'a') + "\", \"bytes\": " + std::to_string(ReleaseBytes) + "}");
        platform.files = files.get();
        platform.environment = &environment;
        platform.bundles = &bundles;
        platform.runningApplications = &applications;
        platform.workspace = &workspace;
        platform.queues = &queues;
        platform.hashing = hashing.get();
        platform.urlSessions = &sessions;
        installer = std::make_unique<Installer>(platform, Leftovers::recover);
        installer->terminate = [] {};
        installer->applicationWillFinishLaunching();
        installer->applicationDidFinishLaunching();
        settle();
    }

    // A delegate call made the way the session makes them: off the main thread.
    void fromSession(const std::function<void(SessionDelegate&, DownloadTask&)>& call) {
        auto task = installer->currentTask();
        std::thread([&] {
            markThisThread(Affinity::session);
            call(*sessions.delegate, *task);
        }).join();
        settle();
    }

    Path home;
    std::unique_ptr<Files> files;
    FolderEnvironment environment;
    FolderBundle bundles;
    std::unique_ptr<Hashing> hashing;
    std::unique_ptr<Queues> mainQueues;
    HoldingQueues queues;
    HeldSessions sessions;
    CountedApplications applications;
    SilentWorkspace workspace;
    Platform platform;
    std::unique_ptr<Installer> installer;
};

struct Picture {
    const char* name;
    bool withManifest;
    std::function<void(Scene&)> drive;
};

void downloadTo40Percent(Scene& scene) {
    scene.installer->start();
    scene.fromSession([](SessionDelegate& delegate, DownloadTask& task) {
        delegate.didWriteData(task, 65536, ReleaseBytes * 2 / 5, ReleaseBytes);
    });
}

const std::vector<Picture> pictures{
    {"ready", true, [](Scene&) {}},
    {"unavailable", false, [](Scene&) {}},
    {"refused", true,
     [](Scene& scene) {
         scene.applications.running = 1;
         scene.installer->start();
     }},
    {"downloading", true, downloadTo40Percent},
    {"verifying-and-installing", true,
     [](Scene& scene) {
         writeFile(scene.home / "Library/Caches/OrbitreelInstaller/1.4.2/application.dmg", "image");
         scene.installer->start();
         scene.installer->progressBar()->setPhase(0.45);
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
         writeFile(scene.home / "Library/Caches/OrbitreelInstaller/1.4.2/application.dmg", "image");
         scene.installer->start();
         scene.installer->finishInstall(scene.home / "Applications/Orbitreel.app");
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
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    int number = 1;
    for (const auto& picture : pictures::pictures) {
        const Path folder = Path(scratch.path().toStdString()) / picture.name;
        pictures::Scene scene(folder, picture.withManifest);
        picture.drive(scene);
        const QString file = out.absoluteFilePath(QStringLiteral("%1-%2.png").arg(number++).arg(picture.name));
        if (!scene.installer->windowWidget()->grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
