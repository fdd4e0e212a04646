#include "tests/controller/installer_world.h"

#include <QCoreApplication>
#include <QLabel>
#include <filesystem>

#include "ui/primary_button.h"

namespace orbitreel::test_support {

std::unique_ptr<UrlSession> TestSessions::makeSession(const SessionConfiguration& configuration,
                                                      SessionDelegate& delegate) {
    asked = configuration;
    SessionConfiguration test = host_.configuration();
    test.timeoutIntervalForRequest = requestTimeoutOverride.value_or(configuration.timeoutIntervalForRequest);
    test.timeoutIntervalForResource = configuration.timeoutIntervalForResource;
    test.largestFile = configuration.largestFile;
    return services_.realSessions().makeSession(test, delegate);
}

void OpeningWorkspace::openApplication(const Path& bundle, OpenHandler handler) {
    opened.push_back(bundle);
    handler(std::nullopt);
}

InstallerWorld::InstallerWorld() : home(host.folder() / "home"), bundle(host.folder() / "OrbitreelInstaller.app") {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(host.folder() / "tmp");
    std::filesystem::create_directories(bundle / "Contents/Resources");
    services.withHome(home, host.folder() / "tmp")
        .withBundle(bundle)
        .withSystemApplications(host.folder() / "SystemApplications")
        .withFiles(files)
        .withRunningApplications(runningApplications)
        .withWorkspace(workspace)
        .withSession(sessions);
#ifdef ORBITREEL_TEST_HELPERS_DIR
    services.withHelpers(ORBITREEL_TEST_HELPERS_DIR);
#endif
    platform = services.build();
}

InstallerWorld::~InstallerWorld() {
    services.stopQueues();
    settle();
}

std::string InstallerWorld::releasePath(const std::string& version) {
    return "/downloads/Orbitreel-Mac-" + version + ".dmg";
}

void InstallerWorld::writeManifest(std::int64_t bytes, const std::string& sha256, const std::string& version) {
    writeText(bundle / "Contents/Resources/release.json",
              "{\"version\": \"" + version + "\", \"url\": \"" + TestReleaseHost::url(releasePath(version)) +
                  "\", \"sha256\": \"" + sha256 + "\", \"bytes\": " + std::to_string(bytes) + "}");
}

void InstallerWorld::writeManifestFor(const Bytes& content, const std::string& version) {
    writeManifest(static_cast<std::int64_t>(content.size()), sha256Hex(content), version);
}

Path InstallerWorld::image(const std::string& version) const {
    return home / "Library/Caches/OrbitreelInstaller" / version / "application.dmg";
}

Path InstallerWorld::resumeData(const std::string& version) const {
    return home / "Library/Caches/OrbitreelInstaller" / version / "resume.data";
}

InstallerLaunch::InstallerLaunch(InstallerWorld& world) : installer(std::make_unique<Installer>(world.platform, Leftovers::recover)) {
    installer->terminate = [this] { ++terminations; };
    installer->runAlert = [](const QString&, const QString&) {};
    installer->applicationWillFinishLaunching();
    installer->applicationDidFinishLaunching();
}

InstallerLaunch::~InstallerLaunch() {
    installer.reset();
    settle();
}

std::string InstallerLaunch::status() const { return installer->statusLabel()->text().toStdString(); }
std::string InstallerLaunch::details() const { return installer->detailsLabel()->text().toStdString(); }
std::string InstallerLaunch::button() const { return installer->actionButton()->text().toStdString(); }
bool InstallerLaunch::buttonEnabled() const { return installer->actionButton()->isEnabled(); }

bool InstallerLaunch::pressAndWait() {
    installer->start();
    return eventually([&] { return !installer->isBusy(); });
}

}  // namespace orbitreel::test_support
