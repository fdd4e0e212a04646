#include "tests/support/installer_world.h"

#include <QLabel>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/identity.h"
#include "core/thread_affinity.h"
#include "tests/support/event_loop.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/text_files.h"
#include "ui/primary_button.h"

namespace orbitreel::test_support {

InstallerWorld::InstallerWorld() : InstallerWorld(Choices{}) {}

InstallerWorld::InstallerWorld(const Choices& choices)
    : home(root.path() / "home"), bundle(root.path() / "OrbitreelInstaller.app") {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(root.path() / "tmp");
    std::filesystem::create_directories(bundle / "Contents/Resources");
    services.withHome(home, root.path() / "tmp")
        .withBundle(bundle)
        .withSystemApplications(root.path() / "SystemApplications")
        .withFiles(files)
        .withWorkspace(workspace)
        .withSession(choices.sessions ? *choices.sessions : sessions);
    services.withRunningApplications(runningApplications);
    if (choices.holdBackgroundJobs) services.withQueues(heldQueues);
    if (choices.helpers) services.withHelpers(*choices.helpers);
    platform = services.build();
}

InstallerWorld::~InstallerWorld() {
    // Work still queued would find the world gone.
    services.stopQueues();
    settle();
}

void InstallerWorld::writeManifest(const std::string& json) {
    writeText(bundle / "Contents/Resources/release.json", json);
}

void InstallerWorld::writeManifest(std::int64_t bytes, const std::string& sha256, const std::string& version) {
    writeManifest("{\"version\": \"" + version + "\", \"url\": \"https://" + ReleaseHost + releasePath(version) +
                  "\", \"sha256\": \"" + sha256 + "\", \"bytes\": " + std::to_string(bytes) + "}");
}

void InstallerWorld::writeManifestFor(const std::string& content, const std::string& version) {
    writeManifest(std::int64_t(content.size()), sha256Hex(content), version);
}

void InstallerWorld::writeManifestFor(std::span<const unsigned char> content, const std::string& version) {
    writeManifest(std::int64_t(content.size()), sha256Hex(content), version);
}

std::string InstallerWorld::releasePath(const std::string& version) {
    return "/downloads/Orbitreel-Mac-" + version + ".dmg";
}

Path InstallerWorld::versionFolder(const std::string& version) const {
    return home / "Library/Caches/OrbitreelInstaller" / version;
}

Path InstallerWorld::image(const std::string& version) const { return versionFolder(version) / "application.dmg"; }

Path InstallerWorld::resumeData(const std::string& version) const { return versionFolder(version) / "resume.data"; }

std::vector<std::string> InstallerWorld::logLines() const {
    std::vector<std::string> lines;
    std::istringstream log(readText(home / "Library/Logs/OrbitreelInstaller.log"));
    for (std::string line; std::getline(log, line);) {
        const auto blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return lines;
}

InstallerRun::InstallerRun(InstallerWorld& world)
    : installer(std::make_unique<Installer>(world.platform, Leftovers::recover)) {
    installer->terminate = [this] { ++terminations; };
    installer->replyToApplicationShouldTerminate = [this] { ++quitReplies; };
    installer->runAlert = [this](const QString& message, const QString& informative) {
        alerts.push_back((message + "/" + informative).toStdString());
    };
}

// A job still running when the run ends posts to an installer that is gone,
// which the installer's posts tolerate; the world's queues then wait for it.
InstallerRun::~InstallerRun() {
    installer.reset();
    settle();
}

void InstallerRun::launch() {
    installer->applicationWillFinishLaunching();
    installer->applicationDidFinishLaunching();
}

std::string InstallerRun::status() const { return installer->statusLabel()->text().toStdString(); }
std::string InstallerRun::details() const { return installer->detailsLabel()->text().toStdString(); }
std::string InstallerRun::button() const { return installer->actionButton()->text().toStdString(); }
bool InstallerRun::buttonEnabled() const { return installer->actionButton()->isEnabled(); }

bool InstallerRun::pressAndWait() {
    installer->start();
    return eventually([&] { return !installer->isBusy(); });
}

void onSessionQueue(const std::function<void()>& call) {
    std::thread([&] {
        markThisThread(Affinity::session);
        call();
    }).join();
}

}  // namespace orbitreel::test_support
