#include "tests/controller/app_world.h"

#include <QCoreApplication>
#include <filesystem>
#include <sstream>

namespace orbitreel::test_support {

std::shared_ptr<DownloadTask> ScriptedSession::downloadTask(const std::string& url) {
    auto task = std::make_shared<ScriptedTask>();
    task->url = url;
    tasks.push_back(task);
    return task;
}

std::shared_ptr<DownloadTask> ScriptedSession::downloadTaskWithResumeData(const Bytes& resumeData) {
    auto task = std::make_shared<ScriptedTask>();
    task->resumeData = resumeData;
    tasks.push_back(task);
    return task;
}

std::unique_ptr<UrlSession> ScriptedUrlSessions::makeSession(const SessionConfiguration& config,
                                                             SessionDelegate& sessionDelegate) {
    ++made;
    configuration = config;
    delegate = &sessionDelegate;
    auto made_session = std::make_unique<ScriptedSession>();
    session = made_session.get();
    return made_session;
}

RecordingWorkspace::~RecordingWorkspace() {
    for (auto& answer : answers_) answer.join();
}

void RecordingWorkspace::openApplication(const Path& bundle, OpenHandler handler) {
    opened.push_back(bundle);
    answers_.emplace_back([handler = std::move(handler), error = failure] { handler(error); });
}

AppWorld::AppWorld() : home(root.path() / "home"), bundle(root.path() / "OrbitreelInstaller.app") {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(root.path() / "tmp");
    std::filesystem::create_directories(bundle / "Contents/Resources");
    platform = services.withHome(home, root.path() / "tmp")
                   .withBundle(bundle)
                   .withSystemApplications(root.path() / "SystemApplications")
                   .withWorkspace(workspace)
                   .withSession(sessions)
                   .build();
    runningApplications = platform.runningApplications;
}

AppWorld::~AppWorld() {
    // Work still queued would find the world gone.
    services.stopQueues();
    settle();
}

void AppWorld::writeManifest(const std::string& json) { writeText(bundle / "Contents/Resources/release.json", json); }

void AppWorld::writeManifestWith(std::int64_t bytes, const std::string& sha256, const std::string& version) {
    writeManifest("{\"version\": \"" + version + "\", \"url\": \"https://orbitreel.app/downloads/Orbitreel-Mac-" +
                  version + ".dmg\", \"sha256\": \"" + sha256 + "\", \"bytes\": " + std::to_string(bytes) + "}");
}

void AppWorld::writeManifestFor(const std::string& content, const std::string& version) {
    writeManifestWith(std::int64_t(content.size()), sha256Hex(content), version);
}

Path AppWorld::versionFolder(const std::string& version) const {
    return home / "Library/Caches/OrbitreelInstaller" / version;
}

Path AppWorld::image(const std::string& version) const { return versionFolder(version) / "application.dmg"; }

std::vector<std::string> AppWorld::logLines() const {
    std::vector<std::string> lines;
    std::istringstream log(readText(home / "Library/Logs/OrbitreelInstaller.log"));
    for (std::string line; std::getline(log, line);) {
        const auto blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return lines;
}

AppLaunch::AppLaunch(AppWorld& world) : installer(std::make_unique<Installer>(world.platform, Leftovers::recover)) {
    installer->terminate = [this] { ++terminations; };
    installer->runAlert = [this](const QString& message, const QString& informative) {
        alerts.push_back((message + "/" + informative).toStdString());
    };
}

// A job still running when a test ends posts to an installer that is gone,
// which the installer's posts tolerate; the world's queues then wait for it.
AppLaunch::~AppLaunch() { settle(); }

void AppLaunch::launch() {
    installer->applicationWillFinishLaunching();
    installer->applicationDidFinishLaunching();
}

}  // namespace orbitreel::test_support
