#include "tests/controller/installer_world.h"

#include <QCoreApplication>
#include <QLabel>
#include <filesystem>

#include "platform/linux/download/curl_url_sessions.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/linux/qt_queues.h"
#include "ui/primary_button.h"

namespace orbitreel::testing {

std::unique_ptr<UrlSession> TestSessions::makeSession(const SessionConfiguration& configuration,
                                                      SessionDelegate& delegate) {
    asked = configuration;
    SessionConfiguration test = host_.configuration();
    test.timeoutIntervalForRequest = requestTimeoutOverride.value_or(configuration.timeoutIntervalForRequest);
    test.timeoutIntervalForResource = configuration.timeoutIntervalForResource;
    test.largestFile = configuration.largestFile;
    return real_.makeSession(test, delegate);
}

void OpeningWorkspace::openApplication(const Path& bundle, OpenHandler handler) {
    opened.push_back(bundle);
    handler(std::nullopt);
}

InstallerWorld::InstallerWorld()
    : home(host.folder() / "home"),
      bundle(host.folder() / "OrbitreelInstaller.app"),
      realFiles(makeLinuxFiles()),
      environment(home, host.folder() / "tmp"),
      bundles(bundle),
      hashing(makeOpenSslHashing()),
      processes(makeLinuxProcesses()),
      queues(makeQtQueues()),
      curlSessions(makeCurlUrlSessions(environment)),
      sessions(*curlSessions, host) {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(host.folder() / "tmp");
    std::filesystem::create_directories(bundle / "Contents/Resources");
    platform.files = &files;
    platform.environment = &environment;
    platform.bundles = &bundles;
    platform.processes = processes.get();
    platform.runningApplications = &runningApplications;
    platform.workspace = &workspace;
    platform.queues = queues.get();
    platform.hashing = hashing.get();
    platform.urlSessions = &sessions;
#ifdef ORBITREEL_TEST_HELPERS_DIR
    const Path helpers = ORBITREEL_TEST_HELPERS_DIR;
#else
    const Path helpers = bundle / "Contents/Helpers";
#endif
    platform.locations = SystemLocations{helpers / "hdiutil", helpers / "codesign", helpers / "ditto",
                                         host.folder() / "SystemApplications"};
}

InstallerWorld::~InstallerWorld() {
    queues.reset();
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

InstallerLaunch::InstallerLaunch(InstallerWorld& world) : installer(std::make_unique<Installer>(world.platform)) {
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

}  // namespace orbitreel::testing
